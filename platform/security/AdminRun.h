#pragma once
// Runs a script with administrator rights, the way the application installs its driver: through
// pkexec on the real system, directly when the caller is root already or when the system root is
// a sandbox folder owned by the caller; a sandbox root of anyone else's is refused.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Process.h"

namespace security {

enum class AdminRunMode { direct, pkexec };

struct AdminRunResult {
    bool launched = false;        // false: nothing could be started (see error)
    AdminRunMode mode = AdminRunMode::direct;
    int exitStatus = -1;          // the script's exit status (or pkexec's own, see below)
    bool cancelled = false;       // the user dismissed the authentication dialog (pkexec 126)
    bool notAuthorized = false;   // authorization could not be obtained (pkexec 127)
    bool programMissing = false;  // not launched: `program` is not there (not on PATH, no such file)
    std::string program;          // what was started: pkexec, or the shell on a direct run
    std::string output;           // standard output
    std::string errorOutput;      // standard error (pkexec's own messages and the script's)
    std::string error;            // why it could not be started
};

struct AdminRunOptions {
    std::filesystem::path systemRoot;  // empty: foundation::paths::systemRoot()
    std::string pkexecPath = "pkexec";  // a name on PATH or a path
    std::string shellPath = "/bin/sh";  // runs the script on a direct run
    int64_t timeoutMs = -1;
    std::optional<unsigned> effectiveUid;  // tests: the caller's uid instead of geteuid()
    // Tests replace the process runner.
    std::function<foundation::ProcessResult(const std::vector<std::string>&, const foundation::ProcessOptions&)>
        runner;
};

// Which way a run goes: direct for root, or for a system root other than "/" that the caller owns.
AdminRunMode chooseAdminRunMode(unsigned effectiveUid, const std::filesystem::path& systemRoot);

// The argument vector of one run: shell script args... on a direct run (HVB_ROOT in the
// environment); pkexec script args... through pkexec, which runs the script itself, so that
// polkit finds the action whose program is the script, and which is asked for the real system
// only.
std::vector<std::string> adminRunArguments(AdminRunMode mode, const std::string& script,
                                           const std::vector<std::string>& arguments,
                                           const AdminRunOptions& options);

// Runs `shell script arguments...` with administrator rights and waits for it. A run that would
// need pkexec for a root other than "/" (a sandbox root of another user's) is refused: nothing
// launched, the reason in `error`.
AdminRunResult runScriptAsAdministrator(const std::string& script, const std::vector<std::string>& arguments,
                                        const AdminRunOptions& options = {});

// The driver installer through runScriptAsAdministrator. Run through pkexec, its START and REMOVE
// go by their own entry point beside `script` ("manageKext.sh MODE", which takes nothing else),
// so that polkit asks for each in its own words, and by it alone; any other run is the script
// with `arguments`.
AdminRunResult runDriverScriptAsAdministrator(const std::string& script, const std::vector<std::string>& arguments,
                                              const AdminRunOptions& options = {});

}  // namespace security
