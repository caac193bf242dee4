#pragma once
// Paths written in configuration files the Windows way ("Data\Unit1.lni", relative to the
// file that names them) resolved to files on this machine.
#include <string>
#include <string_view>

namespace krb::server {

// "\" becomes "/"; a relative path is taken relative to `folder`. When the exact path does
// not exist, a file or folder whose names differ only in letter case is found instead
// (the files were written for a case-insensitive file system).
std::string ResolveConfigPath(std::string_view value, const std::string& folder);

// Folder part of a path including its final separator ("" when there is none).
std::string FolderOf(const std::string& path);

bool IsExistingFile(const std::string& path);
bool IsExistingFolder(const std::string& path);

}  // namespace krb::server
