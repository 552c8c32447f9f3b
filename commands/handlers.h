// Every command handler, by family. Each family lives in its own file in
// commands/; protocol/command_tables.cpp puts the handlers in table order.
#pragma once

#include "protocol/message.h"

namespace vesk::commands {

// high_voltage.cpp
void FVAS(Message& message);  // set the accelerating voltage
void FEBS(Message& message);  // switch the high voltage
void FXSR(Message& message);  // read the high-voltage status

// detectors.cpp
void DSCS(Message& message);  // set detector item 0 (contrast)
void DSBS(Message& message);  // set detector item 1 (brightness)
void DRCS(Message& message);  // set detector item 2
void DRBS(Message& message);  // set detector item 3
void DTGS(Message& message);  // set detector item 4
void DTBS(Message& message);  // set detector item 5
void DCGS(Message& message);  // set detector item 6
void DCSS(Message& message);  // set detector item 7
void DCBS(Message& message);  // set detector item 8
void DHGS(Message& message);  // set detector item 9
void DHSS(Message& message);  // set detector item 10
void DHBS(Message& message);  // set detector item 11
void DHLS(Message& message);  // set detector item 12
void DUCS(Message& message);  // set detector item 13
void DUBS(Message& message);  // set detector item 14
void DSCD(Message& message);  // change the contrast by a step
void DSBD(Message& message);  // change the brightness by a step
void DDSR(Message& message);  // read all detector items
void DWCS(Message& message);  // set the IMS value
void DWSR(Message& message);  // read the IMS value

// auto_contrast.cpp
void DACS(Message& message);  // automatic contrast and brightness

// stage.cpp
void WABS(Message& message);  // move the stage to absolute positions
void WRES(Message& message);  // move the stage by relative distances
void WDSS(Message& message);  // stop the stage
void WINR(Message& message);  // read the stage information
void WSTR(Message& message);  // read the stage move status and positions

// pcd.cpp
void APCR(Message& message);  // read the PCD mode
void APLS(Message& message);  // set the PCD mode

// scan_panel.cpp
void DXRS(Message& message);  // set the scan speed
void WJOY(Message& message);  // pass joystick values to the stage
void PNEL(Message& message);  // carry out an operation-panel step
void ERAS(Message& message);  // set the rotation angle
void XRFX(Message& message);  // load a recipe file
void WSCS(Message& message);  // move the image to a point

// vacuum.cpp
void FLVR(Message& message);  // read the vacuum status
void FVMS(Message& message);  // set the vacuum mode
void FPMS(Message& message);  // manual pressure adjustment
void FPAS(Message& message);  // automatic pressure adjustment

// magnification.cpp
void EMGS(Message& message);  // set the magnification
void EMGD(Message& message);  // change the magnification relatively

// lenses.cpp
void EOWS(Message& message);  // set the working distance
void ECLS(Message& message);  // set the condenser lens
void ECCS(Message& message);  // set the condenser lens (extended range)
void EOCS(Message& message);  // set the objective lens, coarse
void EOFS(Message& message);  // set the objective lens, fine
void EOCD(Message& message);  // change the objective lens coarse relatively
void EOFD(Message& message);  // change the objective lens fine relatively
void ESXD(Message& message);  // change stigmator X (fine) relatively
void ESYD(Message& message);  // change stigmator Y (fine) relatively
void ESMS(Message& message);  // set the stigmators
void ELCS(Message& message);  // reset the objective and condenser lenses

// gun_alignment.cpp
void EGSS(Message& message);  // set the gun alignment shift
void EGTS(Message& message);  // set the gun alignment tilt
void EGAS(Message& message);  // start the automatic gun alignment
void EGAR(Message& message);  // read the automatic gun alignment state

// optics_snapshot.cpp
void EXSR(Message& message);  // read the optics snapshot
void EXAS(Message& message);  // set beam blanking, then read the optics snapshot

// auto_focus.cpp
void EFAS(Message& message);  // automatic focus
void ESAS(Message& message);  // automatic stigmation

// image_shift.cpp
void EISS(Message& message);  // set the image shift

// auto_mode.cpp
void EAAR(Message& message);  // read the automatic-operation mode
void EAAS(Message& message);  // start an automatic adjustment
void PIST(Message& message);  // read the instrument model code

// image_capture.cpp
void ISAV(Message& message);  // capture and save an image, waiting for the end
void IFSS(Message& message);  // request an image capture (variant 1)
void IFFS(Message& message);  // request an image capture (variant 2)
void IFSR(Message& message);  // read the image-data flag
void IFRZ(Message& message);  // set and read the freeze mode

}  // namespace vesk::commands
