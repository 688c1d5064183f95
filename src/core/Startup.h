#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>
#include <utility>

namespace orv {

struct StartupOptions
{
    QStringList arguments;   // the command line (database options, --demo)
    bool demo = false;       // seed the demonstration data and image server folder
    // Log in without the dialog (tests, benchmarks, --login with the password on standard input).
    std::optional<std::pair<QString, QString>> scriptedLogin;
    // Shows the main window (the last step); supplied by the application.
    std::function<QWidget *()> showMain;
};

// The start-up routine. Returns the main window, or nullptr when the login failed or was
// cancelled (the program then ends without a message). Throws orv::Error for the start-up
// errors that stop the program (its description is to be shown).
QWidget *runStartup(const StartupOptions &options);

// The platform folder for "c:\temp", the default of the location and temporary folder fields.
QString defaultTempFolder();

// The DICOM toolkit's settings: UID root ("VelmorOrvaline", "DICOM", "UIDRoot"; empty: the
// toolkit's own) and network timeout in seconds ("NetworkTimeout", default 10).
void applyToolkitSettings();

// Settings read by several windows.
QString readAcquireModalityCode();

} // namespace orv
