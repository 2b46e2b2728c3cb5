// The root-shell dialogue over a TelnetSession: log in, run one command and
// read its response, and run a package's install command and read its exit
// status. All of it blocks on the job thread without a time limit of its own;
// a wait ends with its prompt or with the connection going away (keep-alive,
// the unit restarting, or a cancel that disconnects the session).
#pragma once

#include <string>

#include "telnet/TelnetSession.h"

// loginStage values kept in the session.
constexpr int kLoginNotLoggedIn = 0;
constexpr int kLoginUserNameSent = 1;
constexpr int kLoginPasswordSent = 2;
constexpr int kLoginLoggedIn = 3;

// The exit status given when "echo $?" answered with text that is not a
// number, or a number that does not fit an int. Not 0 (success), not -1
// (no answer) and not 1, so the job reports it as "Unknown Error".
constexpr int kUnreadableExitStatus = -2;

// Waits for the login prompt, the password prompt and the shell prompt in
// turn and returns the final loginStage; 3 means the shell is ready.
int Login(TelnetSession& session);

// Sends one command line and returns everything the unit printed up to the
// next shell prompt; empty when not logged in or when the connection is gone.
std::string RunCommand(TelnetSession& session, const std::string& command);

// Prepares and runs the install command at path (expanded by the unit's
// shell) and returns its exit status, or -1 when no status could be read.
int RunInstallScript(TelnetSession& session, const std::string& path);

// The exit status in the response to "echo $?\n": the decimal number after
// the echoed command's first 9 characters, -1 when the response is shorter
// than that, kUnreadableExitStatus when no int can be read there.
int ReadExitStatus(const std::string& response);
