#pragma once
// The size of the TDS packets a connection asks the server for. A server sends a result
// in packets of this size, and the driver reads, checks and unpacks each one: a snapshot
// of a large server costs the driver about a quarter less CPU in packets of 32,767 bytes
// than in the 4,096 bytes servers use by default, and it needs fewer round trips of the
// network's flow control. Servers that allow less answer with the size they allow.

inline constexpr int DefaultPacketSize = 32767;
inline constexpr int MinPacketSize = 512;
inline constexpr int MaxPacketSize = 32767;

// TORVANE_PACKET_SIZE, else the integer "PacketSize" under the settings key of the
// machine hive, else DefaultPacketSize; 0 leaves the size to the driver (FreeTDS asks for
// the server's default). A value that is neither 0 nor MinPacketSize to MaxPacketSize is
// refused with a warning, and the hive's value or the default stands. Read afresh at
// every call, as every reader of the settings store is.
int ChosenPacketSize();
