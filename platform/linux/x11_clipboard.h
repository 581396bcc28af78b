// The X11 CLIPBOARD selection. X has no clipboard store: the content lives in the client that
// owns the selection. So every write hands ownership to a detached child process that serves
// the content until another client takes the clipboard, and outlives this program.
#pragma once

#include <string>
#include <vector>

#include "platform/clipboard.h"

namespace tavolu {

class X11Clipboard : public Clipboard {
 public:
  void declareTypes(const std::vector<std::string>& types) override;
  bool setString(const std::string& value, const std::string& type) override;
  bool setStringList(const std::vector<std::string>& values, const std::string& type) override;

  // The selection targets served for the current content: (target, bytes).
  std::vector<std::pair<std::string, std::string>> targets() const;

 private:
  // Starts an owner child with the current content; true once it confirmed ownership.
  bool publish();

  std::string url_, path_;
  std::vector<std::string> names_;
};

}  // namespace tavolu
