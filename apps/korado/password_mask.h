// Passwords in the text the console keeps beyond the moment: the history file outlives the session and is
// read back by the next one, so a line that carries a password is kept there with the password masked.
#pragma once

#include <string>
#include <string_view>

namespace korado::console {

// `line` with the password of a CONNECT (or CONN) user/password@DSN login and the value of every PWD= or
// Password= entry (any letter case, blanks around "=") replaced by "***". A braced or quoted value is
// masked whole, as the connection-string syntax reads it.
std::string MaskPasswords(std::string_view line);

// Whether a CONNECT argument is a login (user/password@DSN) rather than a connection string: it holds no
// "=", or a "/" comes before its first "=" (no key of a connection string holds one), so that a password
// with "=" in it is still read, and masked, as a login's.
bool IsLogin(std::string_view argument);

// "user/***@DSN" for the login "user/password@DSN", "user/***" for "user/password": everything between the
// first "/" and the last "@", so that a password holding "@" is masked too.
std::string MaskLogin(std::string_view login);

}  // namespace korado::console
