#pragma once
// The user's defaults: a JSON object in a file under the XDG config folder. Reads are typed and
// tell a missing key apart from a value of another type. Writes are saved at once (atomically).
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace foundation {

enum class LookupStatus { found, missing, wrongType };

template <class T>
struct Lookup {
    LookupStatus status = LookupStatus::missing;
    T value{};
    explicit operator bool() const { return status == LookupStatus::found; }
};

// The largest defaults file read; the values this system keeps take a few hundred bytes.
inline constexpr uint64_t kMaxDefaultsBytes = 1024 * 1024;

class UserDefaults {
public:
    // The application's defaults file: paths::configDir()/"defaults.json".
    static UserDefaults& standard();
    explicit UserDefaults(std::filesystem::path file);
    ~UserDefaults();

    Lookup<std::string> string(const std::string& key) const;
    Lookup<int64_t> integer(const std::string& key) const;
    Lookup<double> real(const std::string& key) const;  // integers read as reals too
    Lookup<bool> boolean(const std::string& key) const;
    Lookup<std::vector<std::string>> stringArray(const std::string& key) const;
    bool contains(const std::string& key) const;

    void set(const std::string& key, const std::string& value);
    void set(const std::string& key, const char* value);
    void set(const std::string& key, int64_t value);
    void set(const std::string& key, int value);  // so that set(key, 5) is not ambiguous
    void set(const std::string& key, double value);
    void set(const std::string& key, bool value);
    void set(const std::string& key, const std::vector<std::string>& value);
    void remove(const std::string& key);

    // Re-reads the file (another process may have written it). A file that is not a JSON object,
    // not a regular file (a link is not followed) or larger than kMaxDefaultsBytes is kept aside
    // as "<file>.corrupt" (".corrupt.2" and on when that is taken) and the defaults start empty.
    void reload();
    // Writes the values to the file now: the reason it failed, or nothing once stored.
    std::optional<std::string> synchronize();
    // Why the last write did not reach the file (a change is kept in memory regardless), or
    // nothing when it did.
    std::optional<std::string> writeError() const;
    const std::filesystem::path& file() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace foundation
