#pragma once

#include <string>
#include <vector>

namespace morrow {

// Where the dialog remembers its settings between runs of the application: a key-value store of
// texts and lists of texts. The Qt view keeps them with QSettings; tests keep them in a map.
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;

    // Empty when the key holds nothing.
    virtual std::string text(const std::string& key) const = 0;
    virtual std::vector<std::string> texts(const std::string& key) const = 0;
    virtual void setText(const std::string& key, const std::string& value) = 0;
    virtual void setTexts(const std::string& key, const std::vector<std::string>& values) = 0;
    // Writes what was set through to the store's file.
    virtual void sync() = 0;
};

} // namespace morrow
