#include "standins/webservice/Content.h"

#include <openssl/evp.h>
#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

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

const std::vector<FirmwareRelease>& firmwareReleases() {
    static const std::vector<FirmwareRelease> releases{
        {"1.5.00", "2023/11/20", {"First public release"}, {"首次公開發行"}},
        {kDefaultFirmwareVersion,
         "2024/05/01",
         {"Improved recording stability", "Fixed {model} clock drift"},
         {"提升錄影穩定性", "修正 {model} 時間偏移"}},
        {"1.7.00",
         "2024/09/16",
         {"Recording starts sooner after power-on", "Longer battery life while on standby"},
         {"開機後更快開始錄影", "延長待機時的電池續航力"}},
    };
    return releases;
}

const std::map<std::string, std::string>& demoFirmwareOffers() {
    // Newer than the demo's HVBR7 (1.6.01) in the part the toolbox shows ("1.6" against "1.7"),
    // so a person sees the difference before and after the upgrade.
    static const std::map<std::string, std::string> offers{{"HVBR7", "1.7.00"}};
    return offers;
}

int compareVersions(const std::string& a, const std::string& b) {
    auto parts = [](const std::string& v) {
        std::vector<unsigned long> out;
        size_t start = 0;
        while (start <= v.size()) {
            const size_t dot = std::min(v.find('.', start), v.size());
            unsigned long n = 0;
            for (size_t i = start; i < dot; ++i)
                if (v[i] >= '0' && v[i] <= '9' && n < 100000000) n = n * 10 + static_cast<unsigned long>(v[i] - '0');
            out.push_back(n);
            start = dot + 1;
        }
        return out;
    };
    auto pa = parts(a), pb = parts(b);
    const size_t size = std::max(pa.size(), pb.size());
    pa.resize(size, 0);
    pb.resize(size, 0);
    return pa < pb ? -1 : pa > pb ? 1 : 0;
}

namespace {

std::vector<std::string> forModel(const std::vector<std::string>& lines, const std::string& model) {
    std::vector<std::string> out;
    for (std::string line : lines) {
        const auto at = line.find("{model}");
        if (at != std::string::npos) line.replace(at, 7, model);
        out.push_back(std::move(line));
    }
    return out;
}

nlohmann::json noteEntry(const std::string& version, const std::string& date, std::vector<std::string> en,
                         std::vector<std::string> zh) {
    return nlohmann::json{{"version", version}, {"date", date}, {"note", {{"en-US", en}, {"zh-Hant-TW", zh}}}};
}

}  // namespace

std::string releaseNotesDocument(const std::map<std::string, std::string>& offers) {
    using json = nlohmann::json;
    json byModel = json::object();
    for (const auto& model : publishedModels()) {
        const auto offer = offers.find(model);
        const std::string offered = offer == offers.end() ? kDefaultFirmwareVersion : offer->second;
        json notes = json::array();
        bool known = false;
        std::string latestDate;
        for (const auto& release : firmwareReleases()) {
            if (compareVersions(release.version, offered) > 0) continue;
            known = known || release.version == offered;
            latestDate = release.date;
            notes.insert(notes.begin(),
                         noteEntry(release.version, release.date, forModel(release.en, model), forModel(release.zh, model)));
        }
        if (!known)
            notes.insert(notes.begin(), noteEntry(offered, latestDate.empty() ? "2023/11/20" : latestDate,
                                                  {"Firmware " + offered + " for " + model},
                                                  {model + " 韌體 " + offered}));
        byModel[model] = std::move(notes);
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
