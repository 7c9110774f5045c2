#pragma once

#include "SettingsStore.h"

class QSettings;

namespace morrow {

// The dialog's remembered settings in a QSettings, which stays with its owner: texts as strings,
// lists as string lists.
class QtSettingsStore : public SettingsStore {
  public:
    explicit QtSettingsStore(QSettings& settings) : settings_(settings) {}

    std::string text(const std::string& key) const override;
    std::vector<std::string> texts(const std::string& key) const override;
    void setText(const std::string& key, const std::string& value) override;
    void setTexts(const std::string& key, const std::vector<std::string>& values) override;
    void sync() override;

  private:
    QSettings& settings_;
};

} // namespace morrow
