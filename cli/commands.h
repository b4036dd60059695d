// The subcommands of the clockagent command-line tool.
#pragma once

namespace clockagent {

// Each takes the arguments after the subcommand's name and returns the process exit code.
int RunDecode(int argc, char** argv);
int RunSimulate(int argc, char** argv);  // POSIX only
int RunSync(int argc, char** argv);
int RunRun(int argc, char** argv);
int RunFind(int argc, char** argv);
int RunRefclock(int argc, char** argv);        // POSIX only
int RunServiceCommand(int argc, char** argv);  // Windows only
int RunW32timeCommand(int argc, char** argv);  // Windows only

}  // namespace clockagent
