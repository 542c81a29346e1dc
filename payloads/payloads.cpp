#include "payloads/payloads.h"

#include <cstddef>

#if defined(_WIN32)

// Windows: the payloads are resources of this program, of the type "CUSTOM"
// in the language 2052 (Chinese, PRC), from the generated payloads.rc.

#include <windows.h>

namespace payloads {

std::optional<std::string_view> find(int id) {
    if (id < 101 || id > 107)
        return std::nullopt;
    HMODULE program = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceExW(program, L"CUSTOM", MAKEINTRESOURCEW(id),
                                  MAKELANGID(LANG_CHINESE_SIMPLIFIED, SUBLANG_CHINESE_SIMPLIFIED));
    if (!found)
        return std::nullopt;
    HGLOBAL loaded = LoadResource(program, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes)
        return std::nullopt;
    return std::string_view(static_cast<const char*>(bytes), SizeofResource(program, found));
}

} // namespace payloads

#else

// Each payload is a byte range placed in the read-only data by the assembler.
// CMake names the files: BR_PAYLOAD_<id>_FILE is a path to take the bytes
// from; BR_PAYLOAD_101_URL, when the build points the version page elsewhere,
// is the address that the configuration file carries instead of the shipped
// one.

#if defined(_WIN32)
#define BR_RODATA_SECTION ".section .rdata,\"dr\"\n"
#else
#define BR_RODATA_SECTION ".section .rodata\n"
#endif

#define BR_STRINGIFY_(x) #x
#define BR_STRINGIFY(x) BR_STRINGIFY_(x)
#define BR_SYMBOL(name) BR_STRINGIFY(__USER_LABEL_PREFIX__) #name
#define BR_BEGIN(id) BR_SYMBOL(br_payload_##id##_begin)
#define BR_END(id) BR_SYMBOL(br_payload_##id##_end)

// Defines br_payload_<id>_begin and _end around the assembler lines `data`.
// clang-format off
#define BR_PAYLOAD(id, data)                                                   \
    asm(BR_RODATA_SECTION                                                      \
        ".balign 16\n"                                                         \
        ".globl " BR_BEGIN(id) "\n"                                            \
        ".globl " BR_END(id) "\n"                                              \
        BR_BEGIN(id) ":\n"                                                     \
        data                                                                   \
        BR_END(id) ":\n"                                                       \
        ".previous\n");                                                        \
    extern "C" const char br_payload_##id##_begin[];                           \
    extern "C" const char br_payload_##id##_end[];
// clang-format on

#define BR_INCBIN(file) ".incbin \"" file "\"\n"

#if defined(BR_PAYLOAD_101_FILE)
BR_PAYLOAD(101, BR_INCBIN(BR_PAYLOAD_101_FILE))
#elif defined(BR_PAYLOAD_101_URL)
// The address and the two zero bytes that end it in the shipped file.
BR_PAYLOAD(101, ".ascii \"" BR_PAYLOAD_101_URL "\"\n.byte 0, 0\n")
#endif
#if defined(BR_PAYLOAD_102_FILE)
BR_PAYLOAD(102, BR_INCBIN(BR_PAYLOAD_102_FILE))
#endif
#if defined(BR_PAYLOAD_103_FILE)
BR_PAYLOAD(103, BR_INCBIN(BR_PAYLOAD_103_FILE))
#endif
#if defined(BR_PAYLOAD_104_FILE)
BR_PAYLOAD(104, BR_INCBIN(BR_PAYLOAD_104_FILE))
#endif
#if defined(BR_PAYLOAD_105_FILE)
BR_PAYLOAD(105, BR_INCBIN(BR_PAYLOAD_105_FILE))
#endif
#if defined(BR_PAYLOAD_106_FILE)
BR_PAYLOAD(106, BR_INCBIN(BR_PAYLOAD_106_FILE))
#endif
#if defined(BR_PAYLOAD_107_FILE)
BR_PAYLOAD(107, BR_INCBIN(BR_PAYLOAD_107_FILE))
#endif

namespace payloads {

#define BR_RANGE(id)                                                                               \
    std::string_view(br_payload_##id##_begin,                                                      \
                     static_cast<std::size_t>(br_payload_##id##_end - br_payload_##id##_begin))

std::optional<std::string_view> find(int id) {
    switch (id) {
#if defined(BR_PAYLOAD_101_FILE) || defined(BR_PAYLOAD_101_URL)
    case 101:
        return BR_RANGE(101);
#endif
#if defined(BR_PAYLOAD_102_FILE)
    case 102:
        return BR_RANGE(102);
#endif
#if defined(BR_PAYLOAD_103_FILE)
    case 103:
        return BR_RANGE(103);
#endif
#if defined(BR_PAYLOAD_104_FILE)
    case 104:
        return BR_RANGE(104);
#endif
#if defined(BR_PAYLOAD_105_FILE)
    case 105:
        return BR_RANGE(105);
#endif
#if defined(BR_PAYLOAD_106_FILE)
    case 106:
        return BR_RANGE(106);
#endif
#if defined(BR_PAYLOAD_107_FILE)
    case 107:
        return BR_RANGE(107);
#endif
    default:
        return std::nullopt;
    }
}

} // namespace payloads

#endif
