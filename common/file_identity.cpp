#include "common/file_identity.h"

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace kv {

bool SameFile(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty()) return false;
  const std::string first(a);
  const std::string second(b);
  struct stat first_info {};
  struct stat second_info {};
  const bool first_exists = stat(first.c_str(), &first_info) == 0;
  const bool second_exists = stat(second.c_str(), &second_info) == 0;
  if (first_exists && second_exists) {
    return first_info.st_dev == second_info.st_dev && first_info.st_ino == second_info.st_ino;
  }
  if (first_exists != second_exists) return false;
  std::error_code first_error;
  std::error_code second_error;
  const std::filesystem::path first_path = std::filesystem::weakly_canonical(first, first_error);
  const std::filesystem::path second_path = std::filesystem::weakly_canonical(second, second_error);
  return !first_error && !second_error && first_path == second_path;
}

}  // namespace kv
