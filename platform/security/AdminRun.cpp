#include "platform/security/AdminRun.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/foundation/Paths.h"

namespace security {

namespace {

constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorized = 127;

// Absolute, because pkexec starts the program in root's home folder and the script takes no
// relative root.
std::filesystem::path absolutePath(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    return ec ? path : full.lexically_normal();
}

std::filesystem::path effectiveRoot(const AdminRunOptions& options) {
    return absolutePath(options.systemRoot.empty() ? foundation::paths::systemRoot() : options.systemRoot);
}

// As the script and the host have it: a root whose real path is "/" is the real system.
bool isRealSystem(const std::filesystem::path& root) {
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::weakly_canonical(root, ec);
    return !ec && real == "/";
}

}  // namespace

AdminRunMode chooseAdminRunMode(unsigned effectiveUid, const std::filesystem::path& systemRoot) {
    if (effectiveUid == 0) return AdminRunMode::direct;
    std::error_code ec;
    std::filesystem::path root = std::filesystem::weakly_canonical(systemRoot, ec);
    if (ec || root.empty() || root == "/") return AdminRunMode::pkexec;
    // A sandbox root counts only when the caller owns it; anything else needs the real rights.
    struct stat st {};
    if (::stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return AdminRunMode::pkexec;
    return st.st_uid == effectiveUid ? AdminRunMode::direct : AdminRunMode::pkexec;
}

std::vector<std::string> adminRunArguments(AdminRunMode mode, const std::string& script,
                                           const std::vector<std::string>& arguments,
                                           const AdminRunOptions& options) {
    const std::string program = script.empty() ? script : absolutePath(script).string();
    std::vector<std::string> argv;
    if (mode == AdminRunMode::pkexec) {
        argv.push_back(options.pkexecPath);
        argv.push_back(program);
    } else {
        argv.push_back(options.shellPath);
        argv.push_back(program);
    }
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

AdminRunResult runScriptAsAdministrator(const std::string& script, const std::vector<std::string>& arguments,
                                        const AdminRunOptions& options) {
    AdminRunResult result;
    if (script.empty()) {
        result.error = "no script given";
        return result;
    }
    std::filesystem::path root = effectiveRoot(options);
    result.mode = chooseAdminRunMode(options.effectiveUid.value_or(static_cast<unsigned>(::geteuid())), root);
    if (result.mode == AdminRunMode::pkexec && !isRealSystem(root)) {
        result.error = "refusing an administrator run into " + root.string() +
                       ": administrator rights are asked for the real system only, and this root is not yours";
        return result;
    }
    std::vector<std::string> argv = adminRunArguments(result.mode, script, arguments, options);

    result.program = argv.front();
    foundation::ProcessOptions processOptions;
    processOptions.timeoutMs = options.timeoutMs;
    if (result.mode == AdminRunMode::direct) processOptions.extraEnvironment.push_back("HVB_ROOT=" + root.string());
    foundation::ProcessResult run =
        options.runner ? options.runner(argv, processOptions) : foundation::runProcess(argv, processOptions);

    result.launched = run.launched;
    result.exitStatus = run.exitStatus;
    result.output = std::move(run.standardOutput);
    result.errorOutput = std::move(run.standardError);
    result.error = std::move(run.error);
    result.programMissing = run.programNotFound;
    if (!run.launched) return result;
    if (result.mode == AdminRunMode::pkexec) {
        result.cancelled = run.exitStatus == kPkexecDismissed;
        result.notAuthorized = run.exitStatus == kPkexecNotAuthorized;
    }
    return result;
}

AdminRunResult runDriverScriptAsAdministrator(const std::string& script, const std::vector<std::string>& arguments,
                                              const AdminRunOptions& options) {
    const std::string mode = arguments.empty() ? std::string() : arguments.back();
    if (!script.empty() && (mode == "START" || mode == "REMOVE") &&
        chooseAdminRunMode(options.effectiveUid.value_or(static_cast<unsigned>(::geteuid())), effectiveRoot(options)) ==
            AdminRunMode::pkexec) {
        // The installer itself takes neither through pkexec.
        const std::filesystem::path entry = absolutePath(script).parent_path() / "manageKext.sh";
        std::error_code ec;
        if (!std::filesystem::is_regular_file(entry, ec)) {
            AdminRunResult result;
            result.mode = AdminRunMode::pkexec;
            result.error = "no " + entry.string() + " to " + (mode == "START" ? "start" : "remove") + " the driver with";
            return result;
        }
        return runScriptAsAdministrator(entry.string(), {mode}, options);
    }
    return runScriptAsAdministrator(script, arguments, options);
}

}  // namespace security
