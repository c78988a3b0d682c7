// Writes the MIME type and the desktop entries the Debian package ships, the
// same texts --install writes for one user, with the program found on PATH.
//
//   desktop_files OUT_DIR
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/desktop_entry.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: desktop_files OUT_DIR\n", stderr);
    return 2;
  }
  std::string dir = argv[1];
  std::ofstream(dir + "/tlqconverter.xml", std::ios::binary) << tlq::mimeInfoText();
  std::ofstream(dir + "/tlqconverter.desktop", std::ios::binary) << tlq::desktopEntryText("tlqconverter");
  std::ofstream(dir + "/tlqconverter-workbook.desktop", std::ios::binary) << tlq::workbookEntryText("tlqconverter");
  std::ofstream(dir + "/tlqconverter-batch.desktop", std::ios::binary) << tlq::batchEntryText("tlqconverter");
  return 0;
}
