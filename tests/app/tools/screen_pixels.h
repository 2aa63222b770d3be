#pragma once

// The pixel checks of the end-to-end test (scripts/e2e_gui.sh), on the pictures the program
// wrote (read through the file layer) and on the screen of the X server (Xvfb keeps it in an
// XWD file):
//   kavun_screenshot --size PICTURE
//     prints "WIDTH HEIGHT";
//   kavun_screenshot --find-on-screen SCREEN_XWD PICTURE
//     prints "X Y", the screen position of the picture's top-left pixel: the first screen pixel
//     of the colour of picture pixel (0,0) whose other three corners match too; status 1 when
//     the picture is not on the screen;
//   kavun_screenshot --screen-digest SCREEN_XWD LEFT TOP RIGHT BOTTOM
//     prints a digest of the screen pixels of the rectangle (right and bottom exclusive), to
//     see whether they changed;
//   kavun_screenshot --changes-inside BEFORE AFTER LEFT,TOP,RIGHT,BOTTOM
//     status 0 when the pictures differ and every differing pixel lies inside the rectangle;
//     otherwise status 1 and a line saying why.

// Runs the command `argv` names; -1 when it names none of these.
int RunPixelCommand(int argc, char** argv);
