#include "standins/webservice/Content.h"

#include <openssl/evp.h>
#include <zip.h>

#include <cstdio>
#include <cstdint>

#include <nlohmann/json.hpp>

namespace standin {

const std::vector<std::string>& publishedModels() {
    static const std::vector<std::string> models{"HVBR4",  "HVBR4B", "HVBR7",  "HVBS8",  "HVBS2A",
                                                 "HVBT3A", "HW7312", "HW7313", "HW7331", "HW7332",
                                                 "HW7333", "HW7334", "HW7351", "HW7352", "HW7360"};
    return models;
}

std::string firmwarePackageName(const std::string& model) { return "FW" + model + ".zip"; }

std::string firmwareImageName(const std::string& model) {
    return "FW" + (model == "HVBS2A" ? std::string("HVBS2") : model) + ".bin";
}

std::string firmwareImage(const std::string& model, const std::string& version) {
    std::string image = "VERSION=" + version + "\nMODEL=" + model + "\n";
    // Filler that does not compress, so a cut transfer really is cut.
    uint32_t x = 2166136261u;
    for (char c : model + version) x = (x ^ static_cast<unsigned char>(c)) * 16777619u;
    const size_t size = 96 * 1024;
    image.reserve(image.size() + size);
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        image.push_back(static_cast<char>(x & 0xFF));
    }
    return image;
}

std::string firmwarePackage(const std::string& model, const std::string& version, const std::string& password) {
    const std::string image = firmwareImage(model, version);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* archive = zip_source_buffer_create(nullptr, 0, 0, &error);
    if (!archive) return {};
    zip_source_keep(archive);
    zip_t* za = zip_open_from_source(archive, ZIP_TRUNCATE, &error);
    std::string out;
    if (za) {
        zip_source_t* entry = zip_source_buffer(za, image.data(), image.size(), 0);
        const zip_int64_t index = entry ? zip_file_add(za, firmwareImageName(model).c_str(), entry, ZIP_FL_ENC_UTF_8) : -1;
        bool ok = index >= 0;
        if (index < 0 && entry) zip_source_free(entry);
        ok = ok && zip_file_set_encryption(za, static_cast<zip_uint64_t>(index), ZIP_EM_TRAD_PKWARE, password.c_str()) == 0;
        if (ok && zip_close(za) == 0) {
            if (zip_source_open(archive) == 0) {
                zip_source_seek(archive, 0, SEEK_END);
                const zip_int64_t size = zip_source_tell(archive);
                zip_source_seek(archive, 0, SEEK_SET);
                if (size > 0) {
                    out.resize(static_cast<size_t>(size));
                    if (zip_source_read(archive, out.data(), static_cast<zip_uint64_t>(size)) != size) out.clear();
                }
                zip_source_close(archive);
            }
        } else {
            zip_discard(za);
        }
    } else {
        zip_source_free(archive);  // the reference the failed open did not take
    }
    zip_source_free(archive);
    zip_error_fini(&error);
    return out;
}

std::string releaseNotesDocument() {
    using json = nlohmann::json;
    json byModel = json::object();
    for (const auto& model : publishedModels()) {
        byModel[model] = json::array({
            json{{"version", kDefaultFirmwareVersion},
                 {"date", "2024/05/01"},
                 {"note", {{"en-US", {"Improved recording stability", "Fixed " + model + " clock drift"}},
                           {"zh-Hant-TW", {"提升錄影穩定性", "修正 " + model + " 時間偏移"}}}}},
            json{{"version", "1.5.00"},
                 {"date", "2023/11/20"},
                 {"note", {{"en-US", {"First public release"}}, {"zh-Hant-TW", {"首次公開發行"}}}}},
        });
    }
    return json{{"HalvetorBody", byModel}}.dump(2);
}

std::string appcastXML(const std::string& baseURL, const std::string& lang, size_t enclosureLength) {
    (void)lang;
    const std::string v = kAppVersion;
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
           "<rss version=\"2.0\" xmlns:sparkle=\"http://www.brevantis.example/xml-namespaces/appcast\">"
           "<channel><item><title>Version " + v + "</title><sparkle:version>" + v + "</sparkle:version>"
           "<enclosure url=\"" + baseURL + "/download/app/app-" + v + ".tar.gz\" sparkle:version=\"" + v +
           "\" length=\"" + std::to_string(enclosureLength) + "\" type=\"application/octet-stream\"/>"
           "</item></channel></rss>";
}

std::string md5Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    std::string out;
    char hex[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(hex, sizeof hex, "%02X", digest[i]);
        out += hex;
    }
    return out;
}

}  // namespace standin
