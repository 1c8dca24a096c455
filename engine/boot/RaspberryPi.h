#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The Raspberry Pi's network boot, as its documentation tells it: the Pi 3's boot ROM
// and the Pi 4/5 EEPROM bootloader send DHCP option 93 = 0 and
// "PXEClient:Arch:00000:UNDI:002001" like a BIOS PC, take an offer only when option 43
// holds the PXE menu item "Raspberry Pi Boot" (the Pi 3 ROM miscounts its length, so
// three spaces follow), take the TFTP server from option 66, and then ask bootcode.bin
// (Pi 3), a per-device folder's start.elf or start4.elf (its serial number, MAC or a
// fixed string) and, when that folder answers, every later name beneath it. Pure.
namespace RaspberryPi {

// What a Pi 3 asks first (a Pi 4 or 5 ignores option 67 and asks nothing like it).
constexpr const char* kFirstFile = "bootcode.bin";

// Whether "dc:a6:32:01:36:c2" lies in one of Raspberry Pi's hardware address blocks.
bool HasPiMac(const QString& macText);
// Whether a HostsFile line's boot file marks its host as a Pi whatever its MAC (one set
// with the bootloader's MAC_ADDRESS): bootcode.bin, start.elf or start4.elf.
bool MarksPi(const QString& hostFile);
// Option 43 for a Pi: discovery control 3, a menu prompt, and the one menu item
// "Raspberry Pi Boot   " (type 0), then the end of the sub-options.
QByteArray VendorOptions();
// A name a Pi probes on every boot and may lack: bootsig.bin, the recovery and EEPROM
// update files, config.txt, and start.elf or start4.elf beneath a per-device folder
// (the bootloader then goes on at the folder's root). A missing one is no failure.
bool IsOptionalProbe(const QByteArray& requested);
// The same as a list for the TFTP server: "*/" stands for any one per-device folder.
QList<QByteArray> OptionalProbes();
// Whether a name (below the folder, '/' between folders) is what a Pi boots from, at
// the root or in a per-device folder: the firmware, its configuration, the kernel, the
// device trees and overlays, and the probes above.
bool DecidesBoot(const QByteArray& name);

} // namespace RaspberryPi
