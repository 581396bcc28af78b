// Error values: a domain, an integer code and the user-facing message.
#pragma once

#include <map>
#include <stdexcept>
#include <string>

namespace tavolu {

class Error : public std::runtime_error {
 public:
  Error(std::string domain, int code, std::string message = {},
        std::map<std::string, std::string> info = {})
      : std::runtime_error(message),
        domain_(std::move(domain)),
        code_(code),
        message_(std::move(message)),
        info_(std::move(info)) {}

  const std::string& domain() const { return domain_; }
  int code() const { return code_; }
  // The user-facing message; when an error has none, a generic one naming domain and code.
  std::string localizedDescription() const {
    if (!message_.empty()) return message_;
    return "The operation couldn’t be completed. (" + domain_ + " error " + std::to_string(code_) +
           ".)";
  }
  // Extra facts for the full description (for example the underlying library error).
  const std::map<std::string, std::string>& info() const { return info_; }

  // One line naming the domain, the code and the user information, message included:
  //   Error Domain=Capture Code=12 "Video writer did not finish."
  //   UserInfo={NSLocalizedDescription=...}
  std::string description() const {
    std::string s = "Error Domain=" + domain_ + " Code=" + std::to_string(code_) + " \"" +
                    localizedDescription() + "\"";
    std::string user;
    if (!message_.empty()) user = "NSLocalizedDescription=" + message_;
    for (const auto& [k, v] : info_) user += (user.empty() ? "" : ", ") + k + "=" + v;
    if (!user.empty()) s += " UserInfo={" + user + "}";
    for (char& c : s)
      if (c == '\n' || c == '\r') c = ' ';
    return s;
  }

 private:
  std::string domain_;
  int code_;
  std::string message_;
  std::map<std::string, std::string> info_;
};

}  // namespace tavolu
