#include <QCoreApplication>
#include <QDateTime>
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

#include "store/atomicfile.h"
#include "store/qsettingsbackend.h"
#include "base/isperrors.h"

namespace {
QString GroupOf(const std::string& keyPath)
{
    QString g = QString::fromStdString(keyPath);
    g.replace('\\', '/');
    while (g.startsWith('/')) g.remove(0, 1);
    return g;
}

const char kSettingsAdvice[] = "run with --no-settings to ignore it, or repair or remove the file";

// A settings file that cannot be read is refused like a corrupt one, whatever the cause: the
// window then starts on defaults and a script is told how to go on.
[[noreturn]] void Unreadable(const QString& path, const QString& why)
{
    throw ESettingsCorrupt("The settings file " + path.toStdString() + " cannot be read (" + why.toStdString() + ")",
                           kSettingsAdvice);
}

void CheckStatus(const QSettings& s, const char* what)
{
    if (s.status() == QSettings::NoError) return;
    if (std::string(what) == "read") Unreadable(s.fileName(), s.status() == QSettings::FormatError ? "format error" : "access error");
    throw Exception(std::string("Settings could not be ") + what + ": " + s.fileName().toStdString());
}

// Every line of an INI file is blank, a comment, a [section] or a key=value. The first one that
// is none of these makes the file corrupt: reading on would silently lose what it held, and
// saving would overwrite it.
void CheckIniFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists()) return;
    if (info.isDir()) Unreadable(path, QStringLiteral("it is a folder"));
    // Settings are a few kilobytes; a file far past that is not ours, and parsing it would take
    // seconds and gigabytes.
    if (info.size() > kMaxSettingsFileBytes)
        throw ESettingsCorrupt("The settings file " + path.toStdString() + " is too large (" +
                               std::to_string(info.size()) + " bytes, at most " +
                               std::to_string(kMaxSettingsFileBytes / (1024 * 1024)) + " MB)", kSettingsAdvice);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) Unreadable(path, file.errorString());
    long line = 0;
    while (!file.atEnd()) {
        const QByteArray raw = file.readLine();
        ++line;
        const QByteArray text = raw.trimmed();
        const bool ok = text.isEmpty() || text.startsWith(';') || text.startsWith('#') ||
                        (text.startsWith('[') && text.endsWith(']')) || (text.indexOf('=') > 0 && !text.contains('\0'));
        if (!ok) {
            QByteArray excerpt = text.left(40);
            for (char& c : excerpt)
                if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
            throw ESettingsCorrupt("The settings file " + path.toStdString() + " is corrupt at line " +
                                   std::to_string(line) + " (\"" + excerpt.toStdString() + "\")", kSettingsAdvice);
        }
    }
}

// Why a folder for the settings cannot be made: a part of the path that is a file, or the
// system's reason.
QString FolderProblem(const QString& folder)
{
    QString probe = folder;
    while (!probe.isEmpty()) {
        const QFileInfo info(probe);
        if (info.exists()) return info.isDir() ? QStringLiteral("permission denied") : probe + QStringLiteral(" is not a folder");
        const QString parent = info.absolutePath();
        if (parent == probe) break;
        probe = parent;
    }
    return QStringLiteral("cannot create the folder");
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

// Takes the lock QSettings itself takes for this file, so other processes' saves do not
// interleave; empty on success, else why not. A lock left by a program that was killed is taken
// over at once (its process is gone); one from another machine sharing the folder counts as
// abandoned after a minute.
static QString TakeSaveLock(QLockFile& lock, const QFileInfo& info)
{
    lock.setStaleLockTime(60000);
    if (lock.tryLock(10000)) return {};
    if (lock.error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host, application;
        lock.getLockInfo(&pid, &host, &application);
        return QStringLiteral("locked by %1 (process %2 on %3)")
            .arg(application.isEmpty() ? QStringLiteral("another program") : application)
            .arg(pid)
            .arg(host.isEmpty() ? QStringLiteral("this machine") : host);
    }
    return lock.error() == QLockFile::PermissionError ? QStringLiteral("permission denied in %1").arg(info.absolutePath())
                                                       : QStringLiteral("cannot create %1.lock").arg(info.filePath());
}

// Applies `change` to a copy of the file and puts the copy in place as one step, so a crash at
// any moment leaves the old or the new file. QSettings alone is not enough: it takes a short
// write of a large section (a full disk, a file size limit) for success and renames the cut-off
// file over the old one. So the copy is read back under a name QSettings has never cached and
// compared with what was meant before it replaces anything.
static void RewriteFile(const QString& path, const std::function<void(QSettings&)>& change, bool replaceCorrupt)
{
    const QFileInfo info(path);
    auto fail = [&](const QString& why) {
        throw Exception("Settings could not be saved: " + path.toStdString() + (why.isEmpty() ? "" : " (" + why.toStdString() + ")"));
    };
    if (!QDir().mkpath(info.absolutePath())) fail(FolderProblem(info.absolutePath()));
    QLockFile lock(path + ".lock");
    if (const QString why = TakeSaveLock(lock, info); !why.isEmpty()) fail(why);
    // Copies of saves that were killed half-way: nobody else writes them while the lock is held.
    for (const QString& leftover : QDir(info.absolutePath())
                                       .entryList({"." + info.fileName() + ".*.new", "." + info.fileName() + ".*.check"},
                                                  QDir::Files | QDir::Hidden))
        QFile::remove(info.absolutePath() + "/" + leftover);
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
        // A corrupt file is never saved over, unless a copy of it was kept first.
        if (!replaceCorrupt) CheckIniFile(path);
        QSettings next(written, QSettings::IniFormat);
        if (!replaceCorrupt) {
            QSettings current(path, QSettings::IniFormat);
            CheckStatus(current, "read");
            for (const QString& key : current.allKeys()) next.setValue(key, current.value(key));
        }
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
    // The checked bytes go in place through the one file replacement every whole-file save uses
    // (on disk first, permissions kept, a symbolic link kept as a link).
    QFile copy(checked);
    if (!copy.open(QIODevice::ReadOnly)) {
        discard();
        fail(copy.errorString());
    }
    const QByteArray bytes = copy.readAll();
    copy.close();
    try {
        atomicfile::ReplaceContents(QFile::encodeName(path).toStdString(), bytes.toStdString());
    } catch (const atomicfile::EReplaceFailed& e) {
        discard();
        fail(QString::fromLocal8Bit(e.what()));
    }
    discard();
}

// The sections below `group` (the whole file when empty).
static std::vector<ISettingsBackend::Section> SectionsOf(QSettings& s, const QString& group)
{
    if (!group.isEmpty()) s.beginGroup(group);
    std::vector<ISettingsBackend::Section> sections;
    for (const QString& g : s.childGroups()) {
        ISettingsBackend::Section sec{g.toStdString(), {}};
        s.beginGroup(g);
        for (const QString& key : s.childKeys()) sec.values.emplace_back(key.toStdString(), s.value(key).toString().toStdString());
        s.endGroup();
        sections.push_back(std::move(sec));
    }
    if (!group.isEmpty()) s.endGroup();
    return sections;
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
    if (const QString file = FileOf(*s); !file.isEmpty() && !corruptKept_) CheckIniFile(file);
    CheckStatus(*s, "read");
    return SectionsOf(*s, iniFile ? QString() : GroupOf(keyPath));
}

void TQSettingsBackend::WriteKey(const std::string& keyPath, const std::vector<Section>& sections, bool iniFile)
{
    auto s = Open(directory_, keyPath, iniFile);
    const QString group = iniFile ? QString() : GroupOf(keyPath);
    const QString file = FileOf(*s);
    if (!file.isEmpty()) {
        s.reset();
        RewriteFile(file, [&](QSettings& next) { ReplaceSections(next, group, sections); }, corruptKept_);
        corruptKept_ = false;
        return;
    }
    ReplaceSections(*s, group, sections);
    s->sync();
    CheckStatus(*s, "saved");
}

void TQSettingsBackend::UpdateKey(const std::string& keyPath,
                                  const std::function<void(std::vector<Section>&)>& change, bool iniFile)
{
    auto s = Open(directory_, keyPath, iniFile);
    const QString group = iniFile ? QString() : GroupOf(keyPath);
    const QString file = FileOf(*s);
    if (file.isEmpty()) return ISettingsBackend::UpdateKey(keyPath, change, iniFile);
    s.reset();
    // Read, changed and written under the file's lock: what another program saved meanwhile is
    // the starting point.
    RewriteFile(file, [&](QSettings& next) {
        std::vector<Section> sections = SectionsOf(next, group);
        change(sections);
        ReplaceSections(next, group, sections);
    }, corruptKept_);
    corruptKept_ = false;
}

std::string TQSettingsBackend::KeepCorruptCopy()
{
    const QString file = FileOf(*Open(directory_, {}, false));
    if (file.isEmpty() || !QFile::exists(file)) return {};
    // A folder or a file this user may not read cannot be copied; it is left alone, and saves
    // keep refusing to replace it.
    if (QFileInfo(file).isDir() || !QFileInfo(file).isReadable()) return {};
    const QString copy = file + QStringLiteral(".corrupt-") + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss");
    if (!QFile::copy(file, copy)) throw Exception("Settings: could not keep a copy of " + file.toStdString() + " as " + copy.toStdString());
    corruptKept_ = true;
    return copy.toStdString();
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
        RewriteFile(file, [&](QSettings& next) { next.remove(group); }, corruptKept_);
        return;
    }
    s->remove(group);
    s->sync();
    CheckStatus(*s, "saved");
}
