#include "platform/foundation/UserDefaults.h"

#include <mutex>
#include <nlohmann/json.hpp>
#include <system_error>

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RegularFile.h"

namespace foundation {

using nlohmann::json;

struct UserDefaults::Impl {
    std::filesystem::path file;
    mutable std::mutex mutex;
    json values = json::object();

    // Caller holds the lock.
    void load() {
        values = json::object();
        FileContent read = readRegularFile(file, kMaxDefaultsBytes);
        if (read.refusal == FileRefusal::missing) return;
        if (!read.content && !isBadShape(read.refusal)) {
            systemLog("UserDefaults: cannot read " + read.reason);
            return;
        }
        if (read.content) {
            json parsed = json::parse(*read.content, nullptr, /*allow_exceptions=*/false);
            if (parsed.is_object()) {
                values = std::move(parsed);
                return;
            }
        }
        // Not ours to repair (nor a link to follow or a FIFO to wait on): kept for inspection,
        // never removed, and the defaults start afresh.
        const std::string why = read.content ? file.string() + " is not a JSON object" : read.reason;
        std::error_code ec;
        const auto aside = setAside(file, ".corrupt", ec);
        systemLog("UserDefaults: " + why + (aside ? "; kept as " + aside->string() : "; setting it aside failed: " + ec.message()));
    }

    std::optional<std::string> writeError;

    // Replaced whole, so a crash never leaves a half-written file. Caller holds the lock.
    void save() {
        std::string text = values.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
        writeError = writeFileAtomically(file, text, 0600);
        if (writeError) systemLog("UserDefaults: " + *writeError);
    }

    template <class F>
    void modify(F&& change) {
        std::lock_guard<std::mutex> lock(mutex);
        change(values);
        save();
    }

    template <class T, class Get>
    Lookup<T> lookup(const std::string& key, Get&& get) const {
        std::lock_guard<std::mutex> lock(mutex);
        Lookup<T> result;
        auto it = values.find(key);
        if (it == values.end()) return result;
        result.status = get(*it, result.value) ? LookupStatus::found : LookupStatus::wrongType;
        if (result.status != LookupStatus::found) result.value = T{};
        return result;
    }
};

UserDefaults& UserDefaults::standard() {
    static UserDefaults* defaults = new UserDefaults(paths::configDir() / "defaults.json");
    return *defaults;
}

UserDefaults::UserDefaults(std::filesystem::path file) : impl_(std::make_unique<Impl>()) {
    impl_->file = std::move(file);
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->load();
}

UserDefaults::~UserDefaults() = default;

Lookup<std::string> UserDefaults::string(const std::string& key) const {
    return impl_->lookup<std::string>(key, [](const json& j, std::string& out) {
        if (!j.is_string()) return false;
        out = j.get<std::string>();
        return true;
    });
}

Lookup<int64_t> UserDefaults::integer(const std::string& key) const {
    return impl_->lookup<int64_t>(key, [](const json& j, int64_t& out) {
        if (j.is_number_unsigned()) {
            uint64_t u = j.get<uint64_t>();
            if (u > static_cast<uint64_t>(INT64_MAX)) return false;
            out = static_cast<int64_t>(u);
            return true;
        }
        if (!j.is_number_integer()) return false;
        out = j.get<int64_t>();
        return true;
    });
}

Lookup<double> UserDefaults::real(const std::string& key) const {
    return impl_->lookup<double>(key, [](const json& j, double& out) {
        if (!j.is_number()) return false;
        out = j.get<double>();
        return true;
    });
}

Lookup<bool> UserDefaults::boolean(const std::string& key) const {
    return impl_->lookup<bool>(key, [](const json& j, bool& out) {
        if (!j.is_boolean()) return false;
        out = j.get<bool>();
        return true;
    });
}

Lookup<std::vector<std::string>> UserDefaults::stringArray(const std::string& key) const {
    return impl_->lookup<std::vector<std::string>>(key, [](const json& j, std::vector<std::string>& out) {
        if (!j.is_array()) return false;
        for (const json& item : j) {
            if (!item.is_string()) return false;
            out.push_back(item.get<std::string>());
        }
        return true;
    });
}

bool UserDefaults::contains(const std::string& key) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->values.contains(key);
}

void UserDefaults::set(const std::string& key, const std::string& value) {
    impl_->modify([&](json& v) { v[key] = value; });
}

void UserDefaults::set(const std::string& key, const char* value) {
    if (!value) {
        remove(key);
        return;
    }
    set(key, std::string(value));
}

void UserDefaults::set(const std::string& key, int64_t value) {
    impl_->modify([&](json& v) { v[key] = value; });
}

void UserDefaults::set(const std::string& key, int value) { set(key, static_cast<int64_t>(value)); }

void UserDefaults::set(const std::string& key, double value) {
    impl_->modify([&](json& v) { v[key] = value; });
}

void UserDefaults::set(const std::string& key, bool value) {
    impl_->modify([&](json& v) { v[key] = value; });
}

void UserDefaults::set(const std::string& key, const std::vector<std::string>& value) {
    impl_->modify([&](json& v) { v[key] = value; });
}

void UserDefaults::remove(const std::string& key) {
    impl_->modify([&](json& v) { v.erase(key); });
}

void UserDefaults::reload() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->load();
}

std::optional<std::string> UserDefaults::synchronize() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->save();
    return impl_->writeError;
}

std::optional<std::string> UserDefaults::writeError() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->writeError;
}

const std::filesystem::path& UserDefaults::file() const { return impl_->file; }

}  // namespace foundation
