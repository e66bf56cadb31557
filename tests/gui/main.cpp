// Main-window tests need one QApplication for the whole run; the settings and the log file go to
// a temporary folder, never the user's own.
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    if (!home.isValid()) return 1;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath("data")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath("config")));
    qputenv("XDG_STATE_HOME", QFile::encodeName(home.filePath("state")));
    qunsetenv("ZEMPRIX_LOG_FILE");
    qputenv("ZEMPRIX_SETTINGS_DIR", QFile::encodeName(home.filePath("settings")));
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
