#pragma once

#include <cstdint>
#include <vector>

namespace pmx {

class TMMConnector;

// The process-wide side of the connectors: the list of live ones, the highest
// Speed among them and the pacing pump. While any connector is armed for message
// pacing, the pump is a client of the displays' shared timer: on a tick after a
// display's block has fallen due it posts a pump to the GUI thread (never more than
// one unhandled at a time); the pump hands every connector's displays all the
// blocks due by then and asks for the next one. A tick with nothing due posts
// nothing. No loop is nested and the GUI thread is never starved of its other work.
//
// Threads: Register, Unregister, Arm and Disarm belong to the GUI thread; the list
// and counters are guarded by one lock, so the tick and tests may read them. WakeIn
// may be called from any thread (the due time is atomic).
namespace connector_pump {

void Register(TMMConnector* connector);
void Unregister(TMMConnector* connector);
bool Registered(const TMMConnector* connector);
int Count();
// Recomputes the highest Speed of the list.
void SpeedChanged();
int HighestSpeed();

// One more (one fewer) connector armed for message pacing; the pump runs while
// the count is above 0.
void Arm();
void Disarm();
int ArmedCount();
// True while the pump has its place on the shared timer.
bool Pumping();
// Asks for a pump in micros microseconds (at once when 0 or less); while the
// pump is not armed, nothing.
void WakeIn(int64_t micros);
// Pumps posted since the pump was last armed.
uint64_t Wakes();

// One pump step on the GUI thread: refreshes every connector due for it.
void Pump();

}  // namespace connector_pump
}  // namespace pmx
