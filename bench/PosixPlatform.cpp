#include "bench/PosixPlatform.h"

#include "platform/Cp1252.h"


namespace velmo::bench {

bool PosixPlatform::FileExists(const std::string& path) { return files_.FileExists(path); }
std::string PosixPlatform::ReadWholeFile(const std::string& path) {
    return files_.ReadWholeFile(path);
}
std::uint32_t PosixPlatform::FileAttributes(const std::string& path) {
    return files_.FileAttributes(path);
}
void PosixPlatform::WriteNewFile(const std::string& path, const std::string& bytes,
                                 std::uint32_t attributes) {
    files_.WriteNewFile(path, bytes, attributes);
}
void PosixPlatform::KeepPermissions(const std::string& original, const std::string& copy) {
    files_.KeepPermissions(original, copy);
}
void PosixPlatform::FlushFiles(const std::vector<std::string>& paths) { files_.FlushFiles(paths); }
void PosixPlatform::LinkFile(const std::string& existing, const std::string& newName) {
    files_.LinkFile(existing, newName);
}
void PosixPlatform::MoveFile(const std::string& from, const std::string& to, bool replaceExisting) {
    files_.MoveFile(from, to, replaceExisting);
}
void PosixPlatform::DeleteFile(const std::string& path) { files_.DeleteFile(path); }
void PosixPlatform::SyncDirectories(const std::vector<std::string>& directories) {
    files_.SyncDirectories(directories);
}
DateTimeTexts PosixPlatform::Now() { return files_.Now(); }
PlatformError PosixPlatform::Error(std::uint32_t code, const std::string& subject) {
    return files_.Error(code, subject);
}

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
