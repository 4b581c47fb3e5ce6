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

bool isSafeRootForPrivilegedRun(const std::filesystem::path& root, std::string* why) {
    const std::filesystem::path full = absolutePath(root);
    std::filesystem::path current;
    for (auto part = full.begin(); part != full.end(); ++part) {
        if (part->empty()) continue;
        current /= *part;
        const bool last = std::next(part) == full.end() || std::next(part)->empty();
        struct stat st {};
        const char* problem = nullptr;
        if (::lstat(current.c_str(), &st) != 0) problem = "does not exist";
        else if (S_ISLNK(st.st_mode)) problem = "is a link";
        else if (!S_ISDIR(st.st_mode)) problem = "is not a folder";
        else if (st.st_uid != 0) problem = "is not root's";
        else if ((st.st_mode & 022) && (last || !(st.st_mode & S_ISVTX))) problem = "is writable by others";
        if (problem) {
            if (why) *why = current.string() + " " + problem;
            return false;
        }
    }
    return true;
}

std::vector<std::string> adminRunArguments(AdminRunMode mode, const std::string& script,
                                           const std::vector<std::string>& arguments,
                                           const AdminRunOptions& options) {
    const std::string program = script.empty() ? script : absolutePath(script).string();
    std::vector<std::string> argv;
    if (mode == AdminRunMode::pkexec) {
        argv.push_back(options.pkexecPath);
        argv.push_back(program);
        const std::filesystem::path root = effectiveRoot(options);
        if (root != "/") {
            argv.push_back("--root");
            argv.push_back(root.string());
        }
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
    std::string unsafe;
    if (result.mode == AdminRunMode::pkexec && root != "/" && !isSafeRootForPrivilegedRun(root, &unsafe)) {
        result.error = "refusing an administrator run into " + root.string() + ": " + unsafe;
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
        const std::filesystem::path entry = absolutePath(script).parent_path() / "manageKext.sh";
        std::error_code ec;
        if (std::filesystem::is_regular_file(entry, ec))
            return runScriptAsAdministrator(entry.string(), {mode}, options);
    }
    return runScriptAsAdministrator(script, arguments, options);
}

}  // namespace security
