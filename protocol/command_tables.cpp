// The 71 command codes in table order, each with its handler from the
// command family files in commands/. An entry whose handler is nullptr is
// known but not yet served: it behaves like an unknown code.
#include "commands/handlers.h"
#include "protocol/command_table.h"

namespace vesk {
namespace {

using namespace commands;

constexpr CommandTableEntry kBaseCommands[] = {
    {FVAS, "FVAS"},    // 0  set the accelerating voltage
    {FEBS, "FEBS"},    // 1  switch the high voltage
    {FXSR, "FXSR"},    // 2  read the high-voltage status
    {ECLS, "ECLS"},    // 3  set the condenser lens
    {EOCS, "EOCS"},    // 4  set the objective lens, coarse
    {EOFS, "EOFS"},    // 5  set the objective lens, fine
    {EOWS, "EOWS"},    // 6  set the working distance
    {ESMS, "ESMS"},    // 7  set the stigmators
    {EMGS, "EMGS"},    // 8  set the magnification
    {EFAS, "EFAS"},    // 9  automatic focus
    {ESAS, "ESAS"},    // 10 automatic stigmation
    {ELCS, "ELCS"},    // 11 reset the objective and condenser lenses
    {EXSR, "EXSR"},    // 12 read the optics snapshot
    {APCR, "APCR"}, // 13 read the PCD mode
    {APLS, "APLS"}, // 14 set the PCD mode
    {WABS, "WABS"}, // 15 move the stage to absolute positions
    {WRES, "WRES"}, // 16 move the stage by relative distances
    {WDSS, "WDSS"}, // 17 stop the stage
    {WINR, "WINR"}, // 18 read the stage information
    {WSTR, "WSTR"}, // 19 read the stage move status and positions
    {DSCS, "DSCS"}, // 20 set detector item 0 (contrast)
    {DSBS, "DSBS"}, // 21 set detector item 1 (brightness)
    {DRCS, "DRCS"}, // 22 set detector item 2
    {DRBS, "DRBS"}, // 23 set detector item 3
    {DTGS, "DTGS"}, // 24 set detector item 4
    {DTBS, "DTBS"}, // 25 set detector item 5
    {DCGS, "DCGS"}, // 26 set detector item 6
    {DCSS, "DCSS"}, // 27 set detector item 7
    {DCBS, "DCBS"}, // 28 set detector item 8
    {DHGS, "DHGS"}, // 29 set detector item 9
    {DHSS, "DHSS"}, // 30 set detector item 10
    {DHBS, "DHBS"}, // 31 set detector item 11
    {DHLS, "DHLS"}, // 32 set detector item 12
    {DUCS, "DUCS"}, // 33 set detector item 13
    {DUBS, "DUBS"}, // 34 set detector item 14
    {DACS, "DACS"}, // 35 automatic contrast and brightness
    {DDSR, "DDSR"}, // 36 read all detector items
    {DWCS, "DWCS"}, // 37 set the IMS value
    {DWSR, "DWSR"}, // 38 read the IMS value
    {IFSR, "IFSR"}, // 39 read the image-data flag
    {IFFS, "IFFS"}, // 40 request an image capture (variant 2)
    {EAAR, "EAAR"}, // 41 read the automatic-operation mode
    {EAAS, "EAAS"}, // 42 start an automatic adjustment
    {IFSS, "IFSS"}, // 43 request an image capture (variant 1)
    {EISS, "EISS"},    // 44 set the image shift
    {EGSS, "EGSS"},    // 45 set the gun alignment shift
    {EGTS, "EGTS"},    // 46 set the gun alignment tilt
    {EGAS, "EGAS"},    // 47 start the automatic gun alignment
    {EGAR, "EGAR"},    // 48 read the automatic gun alignment state
    {EXAS, "EXAS"},    // 49 set beam blanking, then read the optics snapshot
};

constexpr CommandTableEntry kExtendedCommands[] = {
    {EMGD, "EMGD"},    // 0  change the magnification relatively
    {EOCD, "EOCD"},    // 1  change the objective lens coarse relatively
    {EOFD, "EOFD"},    // 2  change the objective lens fine relatively
    {DSCD, "DSCD"}, // 3  change the contrast by a step
    {DSBD, "DSBD"}, // 4  change the brightness by a step
    {ESXD, "ESXD"},    // 5  change stigmator X (fine) relatively
    {ESYD, "ESYD"},    // 6  change stigmator Y (fine) relatively
    {DXRS, "DXRS"}, // 7  set the scan speed
    {WJOY, "WJOY"}, // 8  pass joystick values to the stage
    {ISAV, "ISAV"}, // 9  capture and save an image, waiting for the end
    {PNEL, "PNEL"}, // 10 carry out an operation-panel step
    {IFRZ, "IFRZ"}, // 11 set and read the freeze mode
    {ERAS, "ERAS"}, // 12 set the rotation angle
    {PIST, "PIST"}, // 13 read the instrument model code
    {FVMS, "FVMS"}, // 14 set the vacuum mode
    {FPMS, "FPMS"}, // 15 manual pressure adjustment
    {FPAS, "FPAS"}, // 16 automatic pressure adjustment
    {FLVR, "FLVR"}, // 17 read the vacuum status
    {ECCS, "ECCS"},    // 18 set the condenser lens (extended range)
    {XRFX, "XRFX"}, // 19 load a recipe file
    {WSCS, "WSCS"}, // 20 move the image to a point
};

static_assert(std::size(kBaseCommands) == 50);
static_assert(std::size(kExtendedCommands) == 21);

}  // namespace

CommandTable BaseCommandTable() { return kBaseCommands; }
CommandTable ExtendedCommandTable() { return kExtendedCommands; }

}  // namespace vesk
