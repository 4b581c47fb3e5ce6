#pragma once
// What the web-service stand-in publishes, generated when it starts: one firmware package per
// model (a ZIP with the traditional ZIP encryption and the upgrade password), the release-note
// file and the application's appcast.
#include <map>
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
// A firmware release as the notes tell it; "{model}" in a line stands for the model's name.
struct FirmwareRelease {
    std::string version;
    std::string date;  // "yyyy/MM/dd"
    std::vector<std::string> en;
    std::vector<std::string> zh;
};
// The releases the notes know, oldest first.
const std::vector<FirmwareRelease>& firmwareReleases();
// What the demo offers beyond kDefaultFirmwareVersion: model -> version.
const std::map<std::string, std::string>& demoFirmwareOffers();
// Dotted versions compared part by part as numbers ("1.10.00" after "1.7.00"): <0, 0, >0.
int compareVersions(const std::string& a, const std::string& b);
// A "ReleaseNote.json" covering every published model, made from the offers (model -> version;
// a model not named is offered kDefaultFirmwareVersion): each model's notes, newest first, start
// at the version it is offered and go back through the releases before it. A version the
// releases do not know gets a short note of its own, so no offer is ever without one.
std::string releaseNotesDocument(const std::map<std::string, std::string>& offers = {});
// The appcast XML announcing kAppVersion, its enclosure under baseURL.
std::string appcastXML(const std::string& baseURL, const std::string& lang, size_t enclosureLength);
// MD5 as 32 upper-case hexadecimal digits.
std::string md5Hex(const std::string& bytes);

}  // namespace standin
