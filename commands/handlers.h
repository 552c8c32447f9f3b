// Every command handler, by family. Each family lives in its own file in
// commands/; protocol/command_tables.cpp puts the handlers in table order.
#pragma once

#include "protocol/message.h"

namespace vesk::commands {

// high_voltage.cpp
void FVAS(Message& message);  // set the accelerating voltage
void FEBS(Message& message);  // switch the high voltage
void FXSR(Message& message);  // read the high-voltage status

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

}  // namespace vesk::commands
