// make_pictures FOLDER: writes the Windows program's icons and bitmaps into FOLDER.
#include <cstdio>

#include "ui/pictures/pictures.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_pictures FOLDER\n");
    return 2;
  }
  if (!clockagent::WritePictures(argv[1])) {
    std::fprintf(stderr, "make_pictures: cannot write the pictures into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
