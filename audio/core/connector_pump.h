#pragma once

#include <vector>

namespace pmx {

class TMMConnector;

// The process-wide side of the connectors: the list of live ones, the highest
// Speed among them and the pacing pump. While any connector is armed for message
// pacing, one periodic timer thread posts a pump to the GUI thread (never more
// than one unhandled at a time); the pump refreshes every connector due for it.
// No loop is nested and the GUI thread is never starved of its other work.
//
// Threads: Register, Unregister, Arm and Disarm belong to the GUI thread; the list
// and counters are guarded by one lock, so the timer thread and tests may read them.
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
// True while the pacing timer runs.
bool Pumping();

// One pump step on the GUI thread: refreshes every connector due for it.
void Pump();

}  // namespace connector_pump
}  // namespace pmx
