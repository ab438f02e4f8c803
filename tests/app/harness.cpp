#include "tests/app/harness.h"

#include <gtest/gtest.h>

namespace apptest {

namespace fs = std::filesystem;

namespace {

// Bytes of Windows-1252 text as UTF-8; the run's texts are all Latin-1.
std::string FromLatin1(const std::string& bytes) {
    std::string utf8;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

}  // namespace

std::vector<std::string> ListItems(const Form1& f) {
    std::vector<std::string> items;
    for (int i = 0; i < f.ListLDB1->ListCount(); ++i) items.push_back(f.ListLDB1->List(i));
    return items;
}

platform::DateTime FakeClock::Now() {
    ++readings;
    platform::DateTime t = instants_.front();
    if (instants_.size() > 1) instants_.pop_front();
    return t;
}

platform::MsgBoxResult ScriptedBoxes::Show(const std::string& prompt,
                                           platform::MsgBoxButtons buttons,
                                           const std::string& title) {
    shown.push_back({prompt, buttons, title});
    if (on_show) on_show();
    if (answers.empty()) return platform::vbOK;
    platform::MsgBoxResult answer = answers.front();
    answers.pop_front();
    return answer;
}

void ScriptedDialog::SetMaxFileSize(int characters) {
    calls.push_back("MaxFileSize=" + std::to_string(characters));
}

void ScriptedDialog::SetFileName(const std::string& name) {
    calls.push_back("FileName=" + name);
    name_ = name;
}

void ScriptedDialog::ShowOpen() {
    calls.push_back("ShowOpen");
    if (on_show) on_show();
    name_ = choices.empty() ? std::string() : choices.front();
    if (!choices.empty()) choices.pop_front();
}

std::string ScriptedDialog::FileName() const {
    return name_;
}

std::string WindowsPathEnv::Map(const std::string& path) const {
    std::string relative;
    size_t start = 0;
    if (path.size() >= 2 && path[1] == ':') {
        relative = path.substr(0, 1);
        start = 2;
    }
    for (size_t i = start; i < path.size(); ++i) relative += path[i] == '\\' ? '/' : path[i];
    return (root_ / fs::path(relative).relative_path()).string() +
           (!relative.empty() && relative.back() == '/' ? "/" : "");
}

std::unique_ptr<jet::File> WindowsPathEnv::Open(const std::string& path, jet::OpenMode mode) {
    return jet::Env::Default()->Open(Map(path), mode);
}
jet::FileStatus WindowsPathEnv::Stat(const std::string& path) {
    return jet::Env::Default()->Stat(Map(path));
}
void WindowsPathEnv::Rename(const std::string& from, const std::string& to) {
    jet::Env::Default()->Rename(Map(from), Map(to));
}
void WindowsPathEnv::Remove(const std::string& path) {
    jet::Env::Default()->Remove(Map(path));
}
void WindowsPathEnv::SyncDirectory(const std::string& path) {
    jet::Env::Default()->SyncDirectory(Map(path));
}

void PathFaultEnv::Fail(const std::string& operation, const std::string& fragment, int code,
                        int times) {
    rules_.push_back({operation, fragment, code, times});
}

uint64_t PathFaultEnv::SizeOf(const std::string& path, uint64_t real) {
    for (const auto& [fragment, size] : sizes_)
        if (path.find(fragment) != std::string::npos) return size;
    return real;
}

void PathFaultEnv::Check(const char* operation, const std::string& path) {
    for (Rule& rule : rules_) {
        if (rule.times == 0 || rule.operation != operation) continue;
        if (path.find(rule.fragment) == std::string::npos) continue;
        if (rule.times > 0) --rule.times;
        ++fired_;
        throw jet::OsError(rule.code, operation, path);
    }
}

Harness::Harness(Style style, jet::Env* env) {
    platform::Services services;
    if (style == Style::kWindows) {
        windows_env = std::make_unique<WindowsPathEnv>(dir.path());
        services.env = windows_env.get();
        services.path_style = platform::PathStyle::Windows();
        program_folder = "C:\\Programa";
    } else {
        services.env = env != nullptr ? env : jet::Env::Default();
        services.path_style = platform::PathStyle::Native();
        program_folder = (dir.path() / "programa").string();
    }
    fs::create_directories(Local(program_folder));
    services.program_folder = program_folder;
    services.clock = &clock;
    services.message_box = &boxes;
    services.file_dialog = &dialog;
    services.program_end = &end;
    form = std::make_unique<Form1>(services, NewWindow());
    form->Show();
}

std::string Harness::Local(const std::string& path) const {
    return windows_env ? windows_env->Map(path) : path;
}

void Harness::ChooseAndRun(const std::string& path) {
    dialog.choices.push_back(path);
    form->Command2->Click();
    form->Command1->Click();
}

std::string Harness::LogFileBytes() const {
    return ReadString(Local(form->ArquivoLog));
}

std::vector<std::string> Harness::LogMessages() const {
    std::vector<std::string> messages;
    std::string bytes = LogFileBytes();
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end_of_line = bytes.find("\r\n", start);
        if (end_of_line == std::string::npos) end_of_line = bytes.size();
        std::string line = bytes.substr(start, end_of_line - start);
        start = end_of_line + 2;
        // "dd/mm/yyyy - hh:mm:ss - " is 24 characters.
        std::string message = line.size() >= 24 ? line.substr(24) : line;
        messages.push_back(FromLatin1(message));
    }
    return messages;
}

std::vector<std::string> Harness::BoxTexts() const {
    std::vector<std::string> texts;
    for (const ShownBox& box : boxes.shown) texts.push_back(box.prompt);
    return texts;
}

}  // namespace apptest
