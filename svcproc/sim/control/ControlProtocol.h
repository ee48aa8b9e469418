// The simulator's control protocol, spoken over a Unix stream socket.
//
// A client sends requests, one per line (LF-terminated, at most 255 bytes);
// the simulator answers each with zero or more data lines followed by one
// final line, "ok" or "error <reason>". Numbers are decimal or 0x-prefixed
// hexadecimal.
//
//   set KIND POS RAW       value of a sensor, in the unit the service processor
//                          sends (voltage: 10 mV, fan: rpm, temperature: whole
//                          degrees Celsius, 0-255). KIND: voltage, fan,
//                          temperature; POS: its position, from 0.
//   alert KIND POS on|off  on: the sensor is in alert whatever its value;
//                          off: it follows its limits again.
//   led MASK on|off        switch the LEDs of the bits in MASK (16 bits).
//   fault NAME [COUNT]     arm a fault for COUNT packet transactions (default 1,
//                          0 disarms it); NAME is one of FaultNameList().
//   fault latency POLLS    status polls before each byte is taken or offered,
//                          until changed (0: at once).
//   fault clear            disarm every fault and drop the latency.
//   get KIND POS           data line "raw RAW alert 0|1".
//   leds                   data line "leds 0xWWWW".
//   stats                  data lines "name value" (see FormatStats).
#pragma once

#include <string>
#include <string_view>

#include "model/ServiceProcessorModel.h"

namespace svcproc::sim {

inline constexpr size_t kMaxControlLine = 255;

// Carries out one request line on the model; returns the whole reply, each
// line LF-terminated, the last being "ok" or "error <reason>".
std::string ExecuteControlLine(CServiceProcessorModel& model, std::string_view line);

} // namespace svcproc::sim
