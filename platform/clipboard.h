// The system clipboard, written as typed representations of one item.
#pragma once

#include <string>
#include <vector>

namespace tavolu {

class Clipboard {
 public:
  // Representation types of a copied file.
  static constexpr const char* kFileUrl = "public.file-url";
  static constexpr const char* kFileNames = "NSFilenamesPboardType";
  static constexpr const char* kString = "public.utf8-plain-text";

  virtual ~Clipboard() = default;
  // Clears the clipboard and announces the types that the following writes fill.
  virtual void declareTypes(const std::vector<std::string>& types) = 0;
  // Puts a text representation on the clipboard; true once the clipboard holds it.
  virtual bool setString(const std::string& value, const std::string& type) = 0;
  // Puts a list of texts (a property list array) on the clipboard; true once it holds it.
  virtual bool setStringList(const std::vector<std::string>& values, const std::string& type) = 0;
};

}  // namespace tavolu
