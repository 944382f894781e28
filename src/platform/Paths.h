#pragma once
// Folders of the program on this platform. Every folder is returned without a trailing
// separator.

#include <QString>

namespace Paths {

// Folder of the running executable (from /proc/self/exe).
QString ExecutableFolder();
// Where the settings file and the version files live:
// $XDG_CONFIG_HOME/kelto-converter, by default ~/.config/kelto-converter.
QString SettingsFolder();
// Where the read-only data (profile file, skins, help) lies: beside the executable when a
// copy is there, else the installed share/kelto-converter folder.
QString DataFolder();
// Private copies of the media libraries: the executable's folder + "LibAV".
QString LibAVFolder();
// The default output and snapshot folder, ~/videoconverter as a full path.
QString DefaultFolder();
// Folder + "/" + name, with exactly one separator.
QString Join(const QString& folder, const QString& name);

}  // namespace Paths
