#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <functional>
#include <memory>

#include "image/qsettingsbackend.h"
#include "base/isperrors.h"

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
    s->setAtomicSyncRequired(true);
    // Only the user's own store counts: an organisation-wide or system file must not bring back
    // sections that a save dropped.
    s->setFallbacksEnabled(false);
    return s;
}

// The INI file behind a store, or empty where the store is the Windows registry.
static QString FileOf(const QSettings& s)
{
#ifdef Q_OS_WIN
    if (s.format() == QSettings::NativeFormat) return {};
#endif
    return s.fileName();
}

// Applies `change` to a copy of the file and puts the copy in place with one rename, so a crash
// at any moment leaves the old or the new file. QSettings alone is not enough: it takes a short
// write of a large section (a full disk, a file size limit) for success and renames the cut-off
// file over the old one. So the copy is read back under a name QSettings has never cached and
// compared with what was meant before it replaces anything.
static void RewriteFile(const QString& path, const std::function<void(QSettings&)>& change)
{
    const QFileInfo info(path);
    QDir().mkpath(info.absolutePath());
    auto fail = [&](const QString& why) {
        throw Exception("Settings could not be saved: " + path.toStdString() + (why.isEmpty() ? "" : " (" + why.toStdString() + ")"));
    };
    // The lock QSettings itself takes for this file, so other processes' saves do not interleave.
    QLockFile lock(path + ".lock");
    if (!lock.tryLock(10000)) fail("locked");
    const QString stem = info.absolutePath() + "/." + info.fileName() + "." +
                         QString::number(QCoreApplication::applicationPid()) + "." +
                         QString::number(QRandomGenerator::global()->generate(), 16);
    const QString written = stem + ".new";
    const QString checked = stem + ".check";
    auto discard = [&] {
        QFile::remove(written);
        QFile::remove(checked);
    };

    QMap<QString, QVariant> meant;
    {
        QFile create(written);
        if (!create.open(QIODevice::WriteOnly)) fail(create.errorString());
        create.close();
        QSettings current(path, QSettings::IniFormat);
        CheckStatus(current, "read");
        QSettings next(written, QSettings::IniFormat);
        for (const QString& key : current.allKeys()) next.setValue(key, current.value(key));
        change(next);
        next.sync();
        if (next.status() != QSettings::NoError) {
            discard();
            fail({});
        }
        for (const QString& key : next.allKeys()) meant.insert(key, next.value(key));
    }
    if (!QFile::rename(written, checked)) {
        discard();
        fail("rename");
    }
    bool same = false;
    {
        QSettings back(checked, QSettings::IniFormat);
        if (back.status() == QSettings::NoError) {
            QMap<QString, QVariant> found;
            for (const QString& key : back.allKeys()) found.insert(key, back.value(key));
            same = found == meant;
        }
    }
    if (!same) {
        discard();
        fail("incomplete write");
    }
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(checked.toStdU16String()),
                            std::filesystem::path(path.toStdU16String()), ec);
    if (ec) {
        discard();
        fail(QString::fromStdString(ec.message()));
    }
}

// Replaces the sections below `group` (the whole file when empty) with `sections`.
static void ReplaceSections(QSettings& s, const QString& group, const std::vector<ISettingsBackend::Section>& sections)
{
    if (!group.isEmpty()) s.beginGroup(group);
    for (const QString& g : s.childGroups()) s.remove(g);
    for (const auto& sec : sections) {
        s.beginGroup(QString::fromStdString(sec.name));
        for (const auto& [ident, value] : sec.values)
            s.setValue(QString::fromStdString(ident), QString::fromStdString(value));
        s.endGroup();
    }
    if (!group.isEmpty()) s.endGroup();
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
    const QString group = iniFile ? QString() : GroupOf(keyPath);
    const QString file = FileOf(*s);
    if (!file.isEmpty()) {
        s.reset();
        RewriteFile(file, [&](QSettings& next) { ReplaceSections(next, group, sections); });
        return;
    }
    ReplaceSections(*s, group, sections);
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
    const QString group = GroupOf(keyPath);
    const QString file = FileOf(*s);
    if (!file.isEmpty()) {
        s.reset();
        RewriteFile(file, [&](QSettings& next) { next.remove(group); });
        return;
    }
    s->remove(group);
    s->sync();
    CheckStatus(*s, "saved");
}
