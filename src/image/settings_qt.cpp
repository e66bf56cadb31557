#include <QSettings>
#include <QString>
#include <QStringList>
#include <memory>

#include "image/qsettingsbackend.h"
#include "link/isperrors.h"

namespace {
QString GroupOf(const std::string& keyPath)
{
    QString g = QString::fromStdString(keyPath);
    g.replace('\\', '/');
    while (g.startsWith('/')) g.remove(0, 1);
    return g;
}

void CheckStatus(const QSettings& s, const char* what)
{
    if (s.status() != QSettings::NoError)
        throw Exception(std::string("Settings could not be ") + what + ": " + s.fileName().toStdString());
}
}  // namespace

TQSettingsBackend::TQSettingsBackend(std::string directory) : directory_(std::move(directory))
{
    if (directory_.empty()) {
        QByteArray env = qgetenv("ZEMPRIX_SETTINGS_DIR");
        if (!env.isEmpty()) directory_ = env.toStdString();
    }
}

static std::unique_ptr<QSettings> Open(const std::string& directory, const std::string& keyPath, bool iniFile)
{
    std::unique_ptr<QSettings> s;
    if (iniFile)
        s = std::make_unique<QSettings>(QString::fromStdString(keyPath), QSettings::IniFormat);
    else if (!directory.empty())
        s = std::make_unique<QSettings>(QString::fromStdString(directory) + "/morvel/ZEMPRIX.conf",
                                        QSettings::IniFormat);
    else
        s = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "morvel", "ZEMPRIX");
    // A save either replaces the whole file or fails; it never leaves a half-written one.
    s->setAtomicSyncRequired(true);
    return s;
}

std::string TQSettingsBackend::Location() const
{
    return Open(directory_, {}, false)->fileName().toStdString();
}

std::vector<ISettingsBackend::Section> TQSettingsBackend::ReadKey(const std::string& keyPath, bool iniFile)
{
    auto s = Open(directory_, keyPath, iniFile);
    CheckStatus(*s, "read");
    if (!iniFile) s->beginGroup(GroupOf(keyPath));
    std::vector<Section> sections;
    for (const QString& group : s->childGroups()) {
        Section sec{group.toStdString(), {}};
        s->beginGroup(group);
        for (const QString& key : s->childKeys())
            sec.values.emplace_back(key.toStdString(), s->value(key).toString().toStdString());
        s->endGroup();
        sections.push_back(std::move(sec));
    }
    return sections;
}

void TQSettingsBackend::WriteKey(const std::string& keyPath, const std::vector<Section>& sections, bool iniFile)
{
    auto s = Open(directory_, keyPath, iniFile);
    if (!iniFile) s->beginGroup(GroupOf(keyPath));
    for (const QString& group : s->childGroups()) s->remove(group);
    for (const auto& sec : sections) {
        s->beginGroup(QString::fromStdString(sec.name));
        for (const auto& [ident, value] : sec.values)
            s->setValue(QString::fromStdString(ident), QString::fromStdString(value));
        s->endGroup();
    }
    if (!iniFile) s->endGroup();
    s->sync();
    CheckStatus(*s, "saved");
}

std::vector<std::string> TQSettingsBackend::SubKeys(const std::string& keyPath)
{
    auto s = Open(directory_, keyPath, false);
    s->beginGroup(GroupOf(keyPath));
    std::vector<std::string> names;
    for (const QString& g : s->childGroups()) names.push_back(g.toStdString());
    return names;
}

void TQSettingsBackend::DeleteKey(const std::string& keyPath)
{
    auto s = Open(directory_, keyPath, false);
    s->remove(GroupOf(keyPath));
    s->sync();
    CheckStatus(*s, "saved");
}
