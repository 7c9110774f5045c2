#include "QtSettingsStore.h"

#include <QtCore/QSettings>
#include <QtCore/QStringList>

namespace morrow {

std::string QtSettingsStore::text(const std::string& key) const {
    return settings_.value(QString::fromStdString(key)).toString().toStdString();
}

std::vector<std::string> QtSettingsStore::texts(const std::string& key) const {
    std::vector<std::string> out;
    for (const QString& value : settings_.value(QString::fromStdString(key)).toStringList()) {
        out.push_back(value.toStdString());
    }
    return out;
}

void QtSettingsStore::setText(const std::string& key, const std::string& value) {
    settings_.setValue(QString::fromStdString(key), QString::fromStdString(value));
}

void QtSettingsStore::setTexts(const std::string& key, const std::vector<std::string>& values) {
    QStringList list;
    for (const std::string& value : values) {
        list << QString::fromStdString(value);
    }
    settings_.setValue(QString::fromStdString(key), list);
}

void QtSettingsStore::sync() {
    settings_.sync();
}

} // namespace morrow
