// Writes the MIME type, the desktop entries and the folders' actions the
// Debian package ships, the same texts --install writes for one user, with
// the program found on PATH, each below OUT_DIR by its name in /usr/share
// (the script for GNOME's file manager is a user's alone: not shipped).
//
//   desktop_files OUT_DIR
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/desktop_entry.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: desktop_files OUT_DIR\n", stderr);
    return 2;
  }
  std::string dir = argv[1];
  auto put = [&](const std::string& name, const std::string& text) {
    std::filesystem::path path = std::filesystem::path(dir) / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (!out) {
      std::fprintf(stderr, "desktop_files: cannot write %s\n", path.string().c_str());
      std::exit(1);
    }
  };
  put("mime/packages/tlqconverter.xml", tlq::mimeInfoText());
  put(tlq::kTableEntryFile, tlq::desktopEntryText("tlqconverter"));
  put(tlq::kWorkbookEntryFile, tlq::workbookEntryText("tlqconverter"));
  put(tlq::kMenuEntryFile, tlq::menuEntryText("tlqconverter"));
  put(tlq::kKdeServiceMenuFile, tlq::kdeServiceMenuText("tlqconverter"));
  put(tlq::kNemoActionFile, tlq::nemoActionText("tlqconverter"));
  put(tlq::kNemoCheckActionFile, tlq::nemoCheckActionText("tlqconverter"));
  return 0;
}
