#pragma once

#include "SettingsStore.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace morrow {

// Settings under a registry key of the current user (Software\Morrow for the program): texts as
// REG_SZ, lists as REG_MULTI_SZ.
class RegistrySettingsStore : public SettingsStore {
  public:
    explicit RegistrySettingsStore(std::wstring subKey = L"Software\\Morrow");
    std::string text(const std::string& key) const override;
    std::vector<std::string> texts(const std::string& key) const override;
    void setText(const std::string& key, const std::string& value) override;
    void setTexts(const std::string& key, const std::vector<std::string>& values) override;
    void sync() override {} // every value is written as it is set

  private:
    std::wstring subKey_;
};

// Settings in an INI file, for a Morrow run from a removable drive with a morrow.ini beside it:
// one [Morrow] section of key=value lines in UTF-8, a list's items joined by '|'. Lines of other
// sections and unknown keys are kept as they were.
class IniSettingsStore : public SettingsStore {
  public:
    explicit IniSettingsStore(std::wstring path);
    std::string text(const std::string& key) const override;
    std::vector<std::string> texts(const std::string& key) const override;
    void setText(const std::string& key, const std::string& value) override;
    void setTexts(const std::string& key, const std::vector<std::string>& values) override;
    void sync() override;

  private:
    std::wstring path_;
    std::vector<std::string> lines_; // the file as read, with our section's values updated in place
};

// The store the program uses: morrow.ini in `programDir` when there is one, else the registry.
std::unique_ptr<SettingsStore> programSettings(const std::wstring& programDir);

} // namespace morrow
