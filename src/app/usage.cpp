#include "app/usage.hpp"

#include "app/version.hpp"

namespace pp {

std::string usageText()
{
    return "usage: patch-presenter [--display N] [--mm W H] [--shift X Y] [--pos FX FY]\n"
           "                       [--platform wayland|x11|kms] [--mode WxH@RATE]\n"
           "                       [--signal sdr|hdr10] [--hdr-luminance MIN MAX]\n"
           "       patch-presenter [--platform wayland|x11|kms] --list-displays\n"
           "       patch-presenter [--display N] --profile-state\n"
           "       patch-presenter [--display N] --assign PATH|none\n"
           "       patch-presenter [--display N] [--platform P] --connect HOST[:PORT]\n"
           "       patch-presenter --help | --version\n"
           "\n"
           "Covers one display with a borderless window showing a colour patch, then\n"
           "obeys one command per line on standard input and answers each once the\n"
           "picture is on the screen.\n"
           "\n"
           "options:\n"
           "  --display N         the display to cover (see --list-displays);\n"
           "                      default: the main screen\n"
           "  --mm W H            patch width and height in millimetres (65 65)\n"
           "  --shift X Y         shift of a centred patch in mm, x right, y down (0 0)\n"
           "  --pos FX FY         patch centre as fractions of the screen, y from the top\n"
           "                      (-1 -1: centred)\n"
           "  --platform P        the window system, wayland, x11 or kms; default: wayland\n"
           "                      when a compositor is reachable, else x11 when an X\n"
           "                      server is, else kms (a display with no desktop)\n"
           "  --mode WxH@RATE     kms: the mode to set (see --list-displays);\n"
           "                      default: the display's preferred mode\n"
           "  --signal S          kms: sdr, or hdr10 (HDR10 metadata, BT.2020, 10 bits)\n"
           "  --hdr-luminance MIN MAX\n"
           "                      kms: the HDR10 metadata's luminance in cd/m2\n"
           "                      (0.005 1000)\n"
           "  --list-displays     print the displays as one line of JSON and exit\n"
           "  --profile-state     print the display's colour profiles as JSON and exit\n"
           "  --assign PATH|none  make the ICC file the display's profile and exit\n"
           "  --connect HOST[:PORT]\n"
           "                      show the patches a calibration suite listening there\n"
           "                      (port 20002) sends over TCP; no commands are read.\n"
           "                      Lines: ready, connected HOST PORT, painted T,\n"
           "                      error bad message, disconnected, closed\n"
           "  --help, --version   print this text, or the version, and exit\n"
           "\n"
           "commands, after the greeting \"ready {status report}\":\n"
           "  rgb R G B       painted T        error rgb needs three numbers\n"
           "  move FX FY      moved            error move needs two fractions\n"
           "  surround R G B  surround         error surround needs three numbers\n"
           "  mark on|off     mark on|off\n"
           "  text CAPTION    text\n"
           "  mode M          mode M window_bits W screen_bits S layer L\n"
           "                                   error mode is flat, dither or deep\n"
           "  info            info {status report}\n"
           "  quit            no reply; exit status 0\n"
           "  anything else   error unknown command\n"
           "the person at the display: position FX FY, key space, closed\n"
           "\n"
           "The manual: man patch-presenter (from the sources: man -l doc/patch-presenter.1)\n";
}

std::string versionLine()
{
    return std::string("patch-presenter ") + VERSION;
}

}  // namespace pp
