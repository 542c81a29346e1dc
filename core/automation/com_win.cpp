#include "core/automation/com_win.h"

#include "core/text/encoding.h"

#include <windows.h>

#include <oaidl.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <limits>
#include <vector>

namespace automation::com {

namespace {

// Error numbers Visual Basic gives COM failures that automation has no
// standard description for.
constexpr long NoNamedArguments = 446;

std::wstring toWide(std::string_view utf8) {
    const std::u16string u = text::utf8ToUtf16(utf8);
    return std::wstring(u.begin(), u.end());
}

std::string fromWide(const wchar_t* wide, std::size_t length) {
    return text::utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(wide), length));
}

std::string fromBstr(BSTR b) {
    return b ? fromWide(b, SysStringLen(b)) : std::string();
}

std::string hexCode(HRESULT hr) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08lX", static_cast<unsigned long>(hr));
    return buffer;
}

// An Error for a failed COM call: number and description as Visual Basic
// reports them, with the system's description where it has one.
Error errorFor(HRESULT hr, long number) {
    std::string description = systemDescription(hr);
    if (description.empty())
        description = standardDescription(number);
    if (description.empty())
        description = "自动化错误（" + hexCode(hr) + "）";
    return Error(number, std::move(description));
}

Error errorFor(HRESULT hr) {
    return errorFor(hr, errorNumber(hr));
}

// The error a failing server raised through its exception information.
Error errorFor(EXCEPINFO& info) {
    if (info.pfnDeferredFillIn)
        info.pfnDeferredFillIn(&info);
    const HRESULT scode = info.scode ? info.scode : DISP_E_EXCEPTION;
    const long number = info.wCode ? static_cast<long>(info.wCode) : errorNumber(scode);
    std::string description = fromBstr(info.bstrDescription);
    Error error = description.empty() ? errorFor(scode, number) : Error(number, description);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    info = EXCEPINFO{};
    return error;
}

// A reference-counted COM pointer.
template <class T> class Ref {
public:
    Ref() = default;
    ~Ref() { reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T* get() const { return p_; }
    T** out() {
        reset();
        return &p_;
    }
    void** outVoid() { return reinterpret_cast<void**>(out()); }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() {
        if (p_)
            p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

// A VARIANT that is cleared when it goes out of scope.
struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    ~Variant() { VariantClear(&v); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

// Argument VARIANTs for one call, cleared together.
class VariantArray {
public:
    explicit VariantArray(std::size_t n) : items_(n) {
        for (VARIANT& v : items_)
            VariantInit(&v);
    }
    ~VariantArray() {
        for (VARIANT& v : items_)
            VariantClear(&v);
    }
    VariantArray(const VariantArray&) = delete;
    VariantArray& operator=(const VariantArray&) = delete;
    VARIANT* data() { return items_.data(); }
    VARIANT& operator[](std::size_t i) { return items_[i]; }

private:
    std::vector<VARIANT> items_;
};

class ComDispatch;

// Visual Basic's conversion of an automation value into a call argument.
void toVariant(const Value& value, VARIANT& out) {
    VariantInit(&out);
    switch (value.type()) {
    case Value::Type::Empty:
        V_VT(&out) = VT_EMPTY;
        return;
    case Value::Type::Bool:
        V_VT(&out) = VT_BOOL;
        V_BOOL(&out) = value.toBool() ? VARIANT_TRUE : VARIANT_FALSE;
        return;
    case Value::Type::Integer: {
        const std::int64_t i = value.toInteger();
        if (i >= std::numeric_limits<LONG>::min() && i <= std::numeric_limits<LONG>::max()) {
            V_VT(&out) = VT_I4;
            V_I4(&out) = static_cast<LONG>(i);
        } else {
            // Too large for a Long: Visual Basic would have widened it to
            // a Double, which older servers accept where a 64-bit integer
            // is refused.
            V_VT(&out) = VT_R8;
            V_R8(&out) = static_cast<double>(i);
        }
        return;
    }
    case Value::Type::Double:
        V_VT(&out) = VT_R8;
        V_R8(&out) = value.toDouble();
        return;
    case Value::Type::String: {
        const std::u16string u = text::utf8ToUtf16(value.toString());
        BSTR b = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(u.data()),
                                   static_cast<UINT>(u.size()));
        if (!b)
            throw errorFor(E_OUTOFMEMORY);
        V_VT(&out) = VT_BSTR;
        V_BSTR(&out) = b;
        return;
    }
    case Value::Type::Object: {
        const Object object = value.toObject();
        IDispatch* d = dispatchOf(object);
        if (!object.isNothing() && !d)
            // An object of one of our own servers has no COM interface.
            throw Error(errors::TypeMismatch,
                        standardDescription(errors::TypeMismatch) + "：该对象不能传给 COM 对象");
        if (d)
            d->AddRef();
        V_VT(&out) = VT_DISPATCH;
        V_DISPATCH(&out) = d;
        return;
    }
    }
}

// Visual Basic's reading of a returned VARIANT.
Value fromVariant(const VARIANT& in) {
    Variant direct;
    const VARIANT* v = &in;
    if (V_VT(&in) & VT_BYREF) {
        const HRESULT hr = VariantCopyInd(&direct.v, const_cast<VARIANT*>(&in));
        if (FAILED(hr))
            throw errorFor(hr);
        v = &direct.v;
    }
    if (V_VT(v) & VT_ARRAY)
        throw Error(errors::TypeMismatch,
                    standardDescription(errors::TypeMismatch) + "：不支持数组形式的返回值");
    switch (V_VT(v)) {
    case VT_EMPTY:
    case VT_NULL:
        return Value();
    case VT_BOOL:
        return Value(V_BOOL(v) != VARIANT_FALSE);
    case VT_I1:
        return Value(static_cast<long long>(V_I1(v)));
    case VT_UI1:
        return Value(static_cast<long long>(V_UI1(v)));
    case VT_I2:
        return Value(static_cast<long long>(V_I2(v)));
    case VT_UI2:
        return Value(static_cast<long long>(V_UI2(v)));
    case VT_I4:
        return Value(static_cast<long long>(V_I4(v)));
    case VT_UI4:
        return Value(static_cast<long long>(V_UI4(v)));
    case VT_INT:
        return Value(static_cast<long long>(V_INT(v)));
    case VT_UINT:
        return Value(static_cast<long long>(V_UINT(v)));
    case VT_I8:
        return Value(static_cast<long long>(V_I8(v)));
    case VT_UI8:
        if (V_UI8(v) > static_cast<ULONGLONG>(std::numeric_limits<long long>::max()))
            return Value(static_cast<double>(V_UI8(v)));
        return Value(static_cast<long long>(V_UI8(v)));
    case VT_R4:
        return Value(static_cast<double>(V_R4(v)));
    case VT_R8:
        return Value(V_R8(v));
    case VT_BSTR:
        return Value(fromBstr(V_BSTR(v)));
    case VT_DISPATCH:
        return Value(wrap(V_DISPATCH(v)));
    case VT_UNKNOWN: {
        if (!V_UNKNOWN(v))
            return Value(Object());
        Ref<IDispatch> d;
        const HRESULT hr = V_UNKNOWN(v)->QueryInterface(IID_IDispatch, d.outVoid());
        if (FAILED(hr))
            throw errorFor(hr);
        return Value(wrap(d.get()));
    }
    case VT_ERROR:
        // A missing optional argument reads as Empty; other error values
        // (a worksheet cell's #N/A) as their code.
        if (V_ERROR(v) == DISP_E_PARAMNOTFOUND)
            return Value();
        return Value(static_cast<long long>(V_ERROR(v)));
    default: {
        // Currency, dates, decimals: read as a Double, as arithmetic on
        // them would.
        Variant asDouble;
        const HRESULT hr = VariantChangeType(&asDouble.v, const_cast<VARIANT*>(v), 0, VT_R8);
        if (FAILED(hr))
            throw errorFor(hr, errors::TypeMismatch);
        return Value(V_R8(&asDouble.v));
    }
    }
}

class ComEnumeration final : public Enumeration {
public:
    explicit ComEnumeration(IEnumVARIANT* e) : e_(e) {}
    ~ComEnumeration() override { e_->Release(); }
    ComEnumeration(const ComEnumeration&) = delete;
    ComEnumeration& operator=(const ComEnumeration&) = delete;

    std::optional<Value> next() override {
        if (ended_)
            return std::nullopt;
        Variant item;
        ULONG fetched = 0;
        const HRESULT hr = e_->Next(1, &item.v, &fetched);
        if (FAILED(hr)) {
            ended_ = true;
            throw errorFor(hr);
        }
        if (hr != S_OK || fetched == 0) {
            ended_ = true;
            return std::nullopt;
        }
        return fromVariant(item.v);
    }

private:
    IEnumVARIANT* e_;
    bool ended_ = false;
};

class ComDispatch final : public Dispatch {
public:
    explicit ComDispatch(IDispatch* d) : d_(d) { d_->AddRef(); }
    ~ComDispatch() override { d_->Release(); }
    ComDispatch(const ComDispatch&) = delete;
    ComDispatch& operator=(const ComDispatch&) = delete;

    IDispatch* get() const { return d_; }

    Value invoke(CallKind kind, std::string_view member, const Args& args) override {
        // The named arguments of the call, with the new value of a Put as
        // the named argument DISPID_PROPERTYPUT in front.
        std::vector<Value> positional = args.positional;
        std::vector<const Value*> namedValues;
        std::vector<DISPID> namedIds;
        Value newValue;
        if (kind == CallKind::Put) {
            if (positional.empty())
                throw Error(errors::WrongArgumentCount, "参数个数错误或属性赋值无效");
            newValue = positional.back();
            positional.pop_back();
            namedValues.push_back(&newValue);
            namedIds.push_back(DISPID_PROPERTYPUT);
        }

        DISPID memberId = DISPID_VALUE;
        if (!member.empty() || !args.named.empty()) {
            if (member.empty())
                throw Error(NoNamedArguments, "对象不支持命名参数");
            std::vector<std::wstring> names;
            names.push_back(toWide(member));
            for (const auto& named : args.named)
                names.push_back(toWide(named.name));
            std::vector<LPOLESTR> pointers;
            for (auto& name : names)
                pointers.push_back(name.data());
            std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
            const HRESULT hr =
                d_->GetIDsOfNames(IID_NULL, pointers.data(), static_cast<UINT>(pointers.size()),
                                  LOCALE_USER_DEFAULT, ids.data());
            if (FAILED(hr)) {
                if (hr == DISP_E_UNKNOWNNAME && ids[0] != DISPID_UNKNOWN) {
                    for (std::size_t i = 1; i < ids.size(); ++i)
                        if (ids[i] == DISPID_UNKNOWN)
                            throw Error(errors::NamedArgumentNotFound,
                                        "找不到命名参数：" + args.named[i - 1].name);
                }
                throw errorFor(hr);
            }
            memberId = ids[0];
            for (std::size_t i = 1; i < ids.size(); ++i) {
                namedIds.push_back(ids[i]);
                namedValues.push_back(&args.named[i - 1].value);
            }
        }

        // Named arguments first, in the order of their ids; positional ones
        // after them in reverse order, as IDispatch::Invoke takes them.
        const std::size_t count = namedValues.size() + positional.size();
        VariantArray variants(count);
        for (std::size_t i = 0; i < namedValues.size(); ++i)
            toVariant(*namedValues[i], variants[i]);
        for (std::size_t j = 0; j < positional.size(); ++j)
            toVariant(positional[positional.size() - 1 - j], variants[namedValues.size() + j]);

        DISPPARAMS params{};
        params.rgvarg = count ? variants.data() : nullptr;
        params.cArgs = static_cast<UINT>(count);
        params.rgdispidNamedArgs = namedIds.empty() ? nullptr : namedIds.data();
        params.cNamedArgs = static_cast<UINT>(namedIds.size());

        if (kind == CallKind::Put) {
            // An object is assigned by reference where the server offers
            // that, by value otherwise.
            const bool byReference = newValue.isObject() && !newValue.isNothing();
            HRESULT hr =
                call(memberId, byReference ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT, params,
                     nullptr);
            if (byReference && notOffered(hr))
                hr = call(memberId, DISPATCH_PROPERTYPUT, params, nullptr);
            check(hr);
            return Value();
        }
        // Late binding does not know whether a member is a property or a
        // method, so both are allowed, as Visual Basic does.
        Variant result;
        check(call(memberId, DISPATCH_METHOD | DISPATCH_PROPERTYGET, params, &result.v));
        return fromVariant(result.v);
    }

    std::unique_ptr<Enumeration> enumerate() override {
        DISPPARAMS none{};
        Variant result;
        const HRESULT hr =
            call(DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, none, &result.v);
        if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_UNKNOWNNAME)
            throw makeError(errors::MemberNotSupported);
        check(hr);
        IUnknown* source = nullptr;
        if (V_VT(&result.v) == VT_UNKNOWN)
            source = V_UNKNOWN(&result.v);
        else if (V_VT(&result.v) == VT_DISPATCH)
            source = V_DISPATCH(&result.v);
        IEnumVARIANT* e = nullptr;
        if (!source ||
            FAILED(source->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&e))))
            throw makeError(errors::MemberNotSupported);
        return std::make_unique<ComEnumeration>(e);
    }

private:
    HRESULT call(DISPID id, WORD flags, DISPPARAMS& params, VARIANT* result) {
        exception_ = EXCEPINFO{};
        return d_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &exception_,
                          nullptr);
    }

    // True when the member has no such form (and forgets the failure).
    bool notOffered(HRESULT hr) {
        HRESULT reason = hr;
        if (hr == DISP_E_EXCEPTION) {
            if (exception_.pfnDeferredFillIn)
                exception_.pfnDeferredFillIn(&exception_);
            exception_.pfnDeferredFillIn = nullptr;
            reason = exception_.scode;
        }
        if (reason != DISP_E_MEMBERNOTFOUND && reason != E_NOTIMPL)
            return false;
        SysFreeString(exception_.bstrSource);
        SysFreeString(exception_.bstrDescription);
        SysFreeString(exception_.bstrHelpFile);
        exception_ = EXCEPINFO{};
        return true;
    }

    void check(HRESULT hr) {
        if (hr == DISP_E_EXCEPTION)
            throw errorFor(exception_);
        if (FAILED(hr))
            throw errorFor(hr);
    }

    IDispatch* d_;
    EXCEPINFO exception_{};
};

// A failure to make or find an instance: always 429, as Visual Basic's
// CreateObject and GetObject report it, with the system's reason.
[[noreturn]] void cannotCreate(HRESULT hr) {
    throw errorFor(hr, errors::CannotCreateObject);
}

CLSID classIdOf(std::string_view progId) {
    const std::wstring name = toWide(progId);
    CLSID id{};
    const HRESULT hr = progId.empty() ? CO_E_CLASSSTRING : CLSIDFromProgID(name.c_str(), &id);
    if (FAILED(hr))
        cannotCreate(hr);
    return id;
}

Object dispatchObject(IUnknown* unknown) {
    Ref<IDispatch> d;
    const HRESULT hr = unknown->QueryInterface(IID_IDispatch, d.outVoid());
    if (FAILED(hr))
        cannotCreate(hr);
    return wrap(d.get());
}

struct Apartment {
    HRESULT result;
    Apartment() : result(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~Apartment() {
        if (SUCCEEDED(result))
            CoUninitialize();
    }
};

} // namespace

void ensureInitialised() {
    // A thread that already chose the multi-threaded apartment keeps it
    // (RPC_E_CHANGED_MODE): COM works there too.
    thread_local Apartment apartment;
    (void)apartment;
}

Object createObject(std::string_view progId) {
    ensureInitialised();
    const CLSID id = classIdOf(progId);
    Ref<IUnknown> unknown;
    const HRESULT hr =
        CoCreateInstance(id, nullptr, CLSCTX_SERVER, IID_IUnknown, unknown.outVoid());
    if (FAILED(hr))
        cannotCreate(hr);
    return dispatchObject(unknown.get());
}

Object getActiveObject(std::string_view progId) {
    ensureInitialised();
    CLSID id = classIdOf(progId);
    Ref<IUnknown> unknown;
    const HRESULT hr = GetActiveObject(id, nullptr, unknown.out());
    if (FAILED(hr))
        cannotCreate(hr);
    return dispatchObject(unknown.get());
}

Object wrap(IDispatch* dispatch) {
    if (!dispatch)
        return Object();
    return Object(std::make_shared<ComDispatch>(dispatch));
}

IDispatch* dispatchOf(const Object& object) {
    auto* com = dynamic_cast<ComDispatch*>(object.dispatch());
    return com ? com->get() : nullptr;
}

void useSystemClasses(Registry& registry) {
    registry.setFallback([](std::string_view name) { return createObject(name); },
                         [](std::string_view name) { return getActiveObject(name); });
}

long errorNumber(long hresult) {
    const HRESULT hr = hresult;
    if (HRESULT_FACILITY(hr) == FACILITY_CONTROL)
        return static_cast<long>(HRESULT_CODE(hr));
    switch (hr) {
    case DISP_E_UNKNOWNNAME:
    case DISP_E_MEMBERNOTFOUND:
        return errors::MemberNotSupported;
    case DISP_E_TYPEMISMATCH:
        return errors::TypeMismatch;
    case DISP_E_OVERFLOW:
        return 6;
    case E_OUTOFMEMORY:
        return 7;
    case DISP_E_BADINDEX:
        return 9;
    case DISP_E_ARRAYISLOCKED:
        return 10;
    case DISP_E_DIVBYZERO:
        return 11;
    case E_ACCESSDENIED:
        return 70;
    case E_INVALIDARG:
        return errors::InvalidArgument;
    case CO_E_CLASSSTRING:
    case REGDB_E_CLASSNOTREG:
    case CLASS_E_CLASSNOTAVAILABLE:
    case CO_E_SERVER_EXEC_FAILURE:
    case CO_E_APPNOTFOUND:
    case CO_E_APPDIDNTREG:
    case MK_E_UNAVAILABLE:
        return errors::CannotCreateObject;
    case E_NOINTERFACE:
        return 430;
    case E_NOTIMPL:
        return 445;
    case DISP_E_NONAMEDARGS:
        return NoNamedArguments;
    case DISP_E_UNKNOWNLCID:
        return 447;
    case DISP_E_PARAMNOTFOUND:
        return errors::NamedArgumentNotFound;
    case DISP_E_PARAMNOTOPTIONAL:
        return errors::ArgumentNotOptional;
    case DISP_E_BADPARAMCOUNT:
        return errors::WrongArgumentCount;
    case DISP_E_NOTACOLLECTION:
        return 451;
    case DISP_E_BADVARTYPE:
        return 458;
    default:
        return static_cast<long>(hr);
    }
}

std::string systemDescription(long hresult) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(hresult), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (n == 0 || !buffer)
        return {};
    std::wstring text(buffer, n);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    return fromWide(text.data(), text.size());
}

} // namespace automation::com
