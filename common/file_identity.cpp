// Which file a path names, and where the files that guard a company file lie.

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

std::filesystem::path GuardFileOf(std::string_view company_file, std::string_view suffix) {
  namespace fs = std::filesystem;
  const fs::path given{std::string(company_file)};
  std::error_code ec;
  fs::path company = fs::absolute(given, ec);
  if (ec) company = given;
  const fs::path canonical = fs::weakly_canonical(company, ec);
  company = ec ? company.lexically_normal() : canonical;
  // Appended piece by piece: GCC 12 at -O3 takes "." + std::string&& for an overlapping copy (-Wrestrict).
  std::string name = ".";
  name += company.filename().string();
  name += suffix;
  return company.parent_path() / name;
}

}  // namespace kv
