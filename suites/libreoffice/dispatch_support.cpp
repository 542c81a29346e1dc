#include "suites/libreoffice/dispatch_support.h"

#include "core/text/ascii.h"
#include "suites/libreoffice/office_session.h"

namespace libreoffice {

bool sameName(std::string_view a, std::string_view b) {
    return text::equalsIgnoringCase(a, b);
}

Arguments::Arguments(const automation::Args& args, std::vector<std::string_view> parameters)
    : args_(args), parameters_(std::move(parameters)) {
    if (args_.positional.size() > parameters_.size())
        throw Error(automation::errors::WrongArgumentCount, "错误的参数个数或无效的参数属性值");
    for (const auto& named : args_.named) {
        bool known = false;
        for (std::size_t i = 0; i < parameters_.size(); ++i) {
            if (sameName(parameters_[i], named.name)) {
                known = true;
                if (i < args_.positional.size() && !args_.positional[i].isEmpty())
                    throw Error(automation::errors::InvalidArgument,
                                "参数 " + named.name + " 既按位置又按名称给出。");
            }
        }
        if (!known)
            throw Error(automation::errors::NamedArgumentNotFound,
                        "找不到命名参数 " + named.name + "。");
    }
}

const Value* Arguments::find(std::string_view parameter) const {
    for (std::size_t i = 0; i < parameters_.size(); ++i) {
        if (!sameName(parameters_[i], parameter))
            continue;
        if (i < args_.positional.size() && !args_.positional[i].isEmpty())
            return &args_.positional[i];
        for (const auto& named : args_.named) {
            if (sameName(named.name, parameter) && !named.value.isEmpty())
                return &named.value;
        }
        return nullptr;
    }
    return nullptr;
}

const Value& Arguments::required(std::string_view parameter) const {
    const Value* v = find(parameter);
    if (!v)
        throw Error(automation::errors::ArgumentNotOptional,
                    "参数 " + std::string(parameter) + " 不是可选的。");
    return *v;
}

std::vector<std::string_view> parameterList(std::string_view names) {
    std::vector<std::string_view> list;
    while (!names.empty()) {
        const auto space = names.find(' ');
        if (space != 0)
            list.push_back(names.substr(0, space));
        if (space == std::string_view::npos)
            break;
        names.remove_prefix(space + 1);
    }
    return list;
}

const Value& newValue(const automation::Args& args) {
    if (args.positional.empty())
        throw Error(automation::errors::WrongArgumentCount, "错误的参数个数或无效的参数属性值");
    return args.positional.back();
}

std::vector<Value> indexArguments(automation::CallKind kind, const automation::Args& args) {
    std::vector<Value> index = args.positional;
    if (kind == automation::CallKind::Put && !index.empty())
        index.pop_back();
    return index;
}

void unknownMember(std::string_view member) {
    throw Error(automation::errors::MemberNotSupported,
                automation::standardDescription(automation::errors::MemberNotSupported) + "（" +
                    std::string(member) + "）");
}

Value ServerObject::invoke(automation::CallKind kind, std::string_view member,
                           const automation::Args& args) {
    Session::Call call(*session_);
    try {
        return dispatch(kind, member, args);
    } catch (...) {
        session_->rethrowAsError(failureNumber(), subject());
    }
}

std::optional<Value> answerApplicationSetting(automation::CallKind kind, std::string_view member,
                                              const automation::Args& args,
                                              ApplicationSettings& settings,
                                              const Installation& installation,
                                              std::string_view program) {
    const bool put = kind == automation::CallKind::Put;
    if (kind == automation::CallKind::Get && (member.empty() || sameName(member, "Name")))
        return Value(installation.productName + " " + std::string(program));
    if (kind == automation::CallKind::Get && sameName(member, "Version"))
        return Value(installation.version);
    if (sameName(member, "Visible")) {
        if (!put)
            return Value(settings.visible);
        settings.visible = newValue(args).toBool();
        return Value();
    }
    if (sameName(member, "DisplayAlerts") || sameName(member, "ScreenUpdating")) {
        Value& setting =
            sameName(member, "DisplayAlerts") ? settings.displayAlerts : settings.screenUpdating;
        if (!put)
            return setting;
        setting = newValue(args);
        return Value();
    }
    return std::nullopt;
}

} // namespace libreoffice
