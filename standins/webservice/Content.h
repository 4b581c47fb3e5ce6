#pragma once
// What the web-service stand-in publishes, generated when it starts: one firmware package per
// model (a ZIP with the traditional ZIP encryption and the upgrade password), the release-note
// file and the application's appcast.
#include <string>
#include <vector>

namespace standin {

inline constexpr const char* kPackagePassword = "gRAVELMOORkestHILLpin";
inline constexpr const char* kDefaultFirmwareVersion = "1.6.00";
inline constexpr const char* kAppVersion = "2.1.0";

// The 15 models the service publishes firmware for.
const std::vector<std::string>& publishedModels();

// "FW<model>.zip".
std::string firmwarePackageName(const std::string& model);
// The image inside the package: "FW<model>.bin" ("FWHVBS2.bin" for HVBS2A).
std::string firmwareImageName(const std::string& model);
// A recognisable image: "VERSION=<version>\nMODEL=<model>\n" then deterministic filler bytes.
std::string firmwareImage(const std::string& model, const std::string& version);
// The package bytes; an empty string when libzip fails.
std::string firmwarePackage(const std::string& model, const std::string& version,
                            const std::string& password = kPackagePassword);
// A "ReleaseNote.json" covering every published model.
std::string releaseNotesDocument();
// The appcast XML announcing kAppVersion, its enclosure under baseURL.
std::string appcastXML(const std::string& baseURL, const std::string& lang, size_t enclosureLength);
// MD5 as 32 upper-case hexadecimal digits.
std::string md5Hex(const std::string& bytes);

}  // namespace standin
