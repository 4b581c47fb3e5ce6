#pragma once
// The application delegate: what runs from launch until the hot-plug watcher serves cameras,
// and what runs when the application ends.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <QObject>

namespace hvb {

class AppDelegate : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kAppSecret = "4d7e2a90-b1c3-4f58-9e06-7a2c5b8d1f34";

    // The steps launching takes, so that a test can watch their order.
    struct Steps {
        std::function<void()> createWatcher;
        std::function<void(const std::string& secret, const std::vector<std::string>& services)> startCrashReporting;
        std::function<void(const std::string& name, const std::optional<std::map<std::string, std::string>>& params)>
            sendEvent;
        // The current locale's region code, and a region's name in Traditional Chinese.
        std::function<std::optional<std::string>()> regionCode;
        std::function<std::optional<std::string>(const std::string& code)> regionNameInTraditionalChinese;
        std::function<void()> setUpdaterDelegate;
        std::function<void(int64_t ms)> pause;

        static Steps system();
    };

    explicit AppDelegate(Steps steps = Steps::system(), QObject* parent = nullptr);
    ~AppDelegate() override;

    // The application's delegate while one exists.
    static AppDelegate* shared();

    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    // A region's display name in "zh-Hant" from ICU; none when ICU has no name for it.
    static std::optional<std::string> displayRegionName(const std::string& code, const std::string& locale);
    // The two-letter code of the system locale's region; none when the locale names none.
    static std::optional<std::string> systemRegionCode();

private:
    Steps steps_;
};

}  // namespace hvb
