#pragma once

#include <string>

namespace pmx {

// Numbers of the library's message texts; LoadMMResString(n) gives text 28000 + n.
enum MMString : int {
  SUnknown = 6,
  SWaveFileFilter = 4,
  SACMSelect = 20,
  SACMNotInstalled = 21,
  SACMVersion = 22,
  SUnableToLoad = 40,
  SChangePropertyWhileOpen = 60,
  SInvalidDeviceID = 61,
  SInvalidWaveFormatDisplay = 62,
  SNoMemWaveHeader = 64,
  SCantPlayFormat = 70,
  SUnableToStartDevice = 80,
  SErrorFillingBuffer = 81,
  SErrorOutOfRange = 86,
  SCantRecordFormat = 87,
  SCouldNotCreateThread = 88,
  SInvalidWaveFormat = 89,
  SErrorReadingWave = 130,
  SInvalidWaveFile = 133,
  SUnableSetupIOBuffer = 137,
  SUnableOpenWave = 138,
  SUnableCreateWave = 139,
  SErrorSeeking = 147,
  SNoRecordingDevice = 160,
  SNoPlayingDevice = 161,
  SUnableToOpenDevice = 162,
  SUnableToCloseDevice = 163,
};

// The library's text number 28000 + n; an empty text for a number it does not hold.
std::string LoadMMResString(int n);

}  // namespace pmx
