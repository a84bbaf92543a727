#include "bench/PosixPlatform.h"

#include "platform/Cp1252.h"

namespace velmo::bench {

void PosixPlatform::StartProcess(const std::string& program, const std::string&, const std::string&,
                                 int) {
    throw Error(win_error::AccessDenied, program);
}
void PosixPlatform::End() {}
void PosixPlatform::ShowOpen(CommonDialog& dialog) {
    dialog.FileName = dialogAnswer;
}
int PosixPlatform::MsgBox(const std::string& text, int style, const std::string&) {
    messages.push_back(text);
    return style == mb::YesNoCritical ? mb::AnswerYes : mb::AnswerOk;
}
std::int32_t PosixPlatform::RegOpenKeyExA(RegKey, const std::string&, std::uint32_t, std::uint32_t,
                                          RegKey&) {
    return static_cast<std::int32_t>(win_error::FileNotFound);
}
std::int32_t PosixPlatform::RegQueryValueExA(RegKey, const std::string&, std::uint32_t&,
                                             unsigned char*, std::uint32_t&) {
    return static_cast<std::int32_t>(win_error::FileNotFound);
}
std::int32_t PosixPlatform::RegCloseKey(RegKey) {
    return 0;
}
std::string PosixPlatform::FromAnsi(const std::string& bytes) {
    return Cp1252ToUtf8(bytes);
}

} // namespace velmo::bench
