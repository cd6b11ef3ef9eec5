#pragma once
// "Setings.str": seven lines ended by CR LF holding the remote access and NMS
// settings; line 2 holds the three passwords, each scrambled, joined by "^".
#include "support/MyCript.h"

#include <string>
#include <string_view>

struct TNetworkSettings {
    bool RemoteEnabled = false;
    std::string FullAccessPassword;
    std::string ViewerPassword;
    std::string SettingsPassword;
    std::string ListenAddress;
    std::string ListenPort;
    bool NmsEnabled = false;
    std::string NmsHost;
    std::string NmsPort;
};

// The longest password the stored form reads back.
inline constexpr int kMaxPasswordLength = 127;

std::string EncodeNetworkSettings(const TNetworkSettings& settings);
std::string EncodeNetworkSettings(const TNetworkSettings& settings, const RandomByteSource& randomByte);

// Lines may end in CR LF, LF or CR. A file cut short (fewer than seven lines
// each with its line end), a first or fifth line other than "0" or "1", or a
// password piece that is not scrambled text is damaged: problem then names the
// first wrong line, remote access and NMS forwarding read as off, a bad piece
// reads as empty and everything else as it stands.
TNetworkSettings DecodeNetworkSettings(std::string_view bytes, std::string* problem = nullptr);

// Reads the file at path; false when it does not exist or is empty, and then
// settings are left as they were. A damaged file is read as above and problem
// says what is wrong with it, naming the file; otherwise problem is emptied.
// Throws std::runtime_error naming the file when it cannot be read.
bool LoadNetworkSettings(const std::string& path, TNetworkSettings& settings, std::string& problem);
// Replaces the file, readable by its owner only: it holds the passwords.
void SaveNetworkSettings(const std::string& path, const TNetworkSettings& settings);
