#include "Win32Settings.h"

#include "platform/WinApi.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace morrow {

using win32::narrow;
using win32::widen;

RegistrySettingsStore::RegistrySettingsStore(std::wstring subKey) : subKey_(std::move(subKey)) {}

namespace {

// The raw value of `name`, or empty with `type` REG_NONE when there is none.
std::wstring readValue(const std::wstring& subKey, const std::string& name, DWORD& type) {
    HKEY key = nullptr;
    type = REG_NONE;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return {};
    }
    const std::wstring wide = widen(name);
    DWORD bytes = 0;
    std::wstring value;
    if (RegQueryValueExW(key, wide.c_str(), nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS && bytes > 0) {
        value.resize(bytes / sizeof(wchar_t) + 1);
        if (RegQueryValueExW(key, wide.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value.data()),
                             &bytes) != ERROR_SUCCESS) {
            value.clear();
            type = REG_NONE;
        } else {
            value.resize(bytes / sizeof(wchar_t));
        }
    }
    RegCloseKey(key);
    return value;
}

void writeValue(const std::wstring& subKey, const std::string& name, DWORD type, const std::wstring& data) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return; // nothing remembered: the dialog works as before
    }
    RegSetValueExW(key, widen(name).c_str(), 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> out;
    if (text.empty()) {
        return out;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        out.push_back(text.substr(start, end - start));
        if (end == std::string::npos) {
            return out;
        }
        start = end + 1;
    }
}

const char* const section = "[Morrow]";

} // namespace

std::string RegistrySettingsStore::text(const std::string& key) const {
    DWORD type = REG_NONE;
    std::wstring value = readValue(subKey_, key, type);
    if (type != REG_SZ) {
        return {};
    }
    value.resize(wcsnlen(value.c_str(), value.size()));
    return narrow(value);
}

std::vector<std::string> RegistrySettingsStore::texts(const std::string& key) const {
    DWORD type = REG_NONE;
    const std::wstring value = readValue(subKey_, key, type);
    std::vector<std::string> out;
    if (type != REG_MULTI_SZ) {
        return out;
    }
    std::size_t start = 0;
    while (start < value.size() && value[start] != L'\0') {
        const std::size_t end = value.find(L'\0', start);
        out.push_back(narrow(value.substr(start, end - start)));
        if (end == std::wstring::npos) {
            break;
        }
        start = end + 1;
    }
    return out;
}

void RegistrySettingsStore::setText(const std::string& key, const std::string& value) {
    writeValue(subKey_, key, REG_SZ, widen(value));
}

void RegistrySettingsStore::setTexts(const std::string& key, const std::vector<std::string>& values) {
    std::wstring data;
    for (const std::string& v : values) {
        data += widen(v);
        data += L'\0';
    }
    data += L'\0'; // with the terminator writeValue adds, the list ends in two
    writeValue(subKey_, key, REG_MULTI_SZ, data);
}

IniSettingsStore::IniSettingsStore(std::wstring path) : path_(std::move(path)) {
    std::ifstream in(std::filesystem::path(path_), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines_.push_back(line);
    }
    if (!lines_.empty() && lines_[0].rfind("\xEF\xBB\xBF", 0) == 0) {
        lines_[0].erase(0, 3);
    }
}

std::string IniSettingsStore::text(const std::string& key) const {
    bool inside = false;
    for (const std::string& line : lines_) {
        if (!line.empty() && line[0] == '[') {
            inside = line == section;
        } else if (inside && line.rfind(key + "=", 0) == 0) {
            return line.substr(key.size() + 1);
        }
    }
    return {};
}

std::vector<std::string> IniSettingsStore::texts(const std::string& key) const {
    return split(text(key), '|');
}

void IniSettingsStore::setText(const std::string& key, const std::string& value) {
    const std::string entry = key + "=" + value;
    bool inside = false;
    std::size_t sectionEnd = lines_.size();
    bool found = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const std::string& line = lines_[i];
        if (!line.empty() && line[0] == '[') {
            if (inside) {
                sectionEnd = i;
                break;
            }
            inside = line == section;
            found = found || inside;
        } else if (inside && line.rfind(key + "=", 0) == 0) {
            lines_[i] = entry;
            return;
        }
    }
    if (!found) {
        lines_.push_back(section);
        sectionEnd = lines_.size();
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(sectionEnd), entry);
}

void IniSettingsStore::setTexts(const std::string& key, const std::vector<std::string>& values) {
    std::string joined;
    for (const std::string& v : values) {
        joined += (joined.empty() ? "" : "|") + v;
    }
    setText(key, joined);
}

void IniSettingsStore::sync() {
    std::ofstream out(std::filesystem::path(path_), std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines_) {
        out << line << "\r\n";
    }
}

std::unique_ptr<SettingsStore> programSettings(const std::wstring& programDir) {
    const std::wstring ini = programDir + L"\\morrow.ini";
    if (GetFileAttributesW(ini.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return std::make_unique<IniSettingsStore>(ini);
    }
    return std::make_unique<RegistrySettingsStore>();
}

} // namespace morrow
