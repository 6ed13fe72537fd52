#include "audio/core/objects/mm_strings.h"

#include <map>

namespace pmx {

std::string LoadMMResString(int n) {
  static const std::map<int, const char*> kTexts = {
      {SWaveFileFilter, "Wave Files(*.wav)|*.wav"},
      {SUnknown, "Unknown"},
      {SACMSelect, "Select..."},
      {SACMNotInstalled,
       "The Audio Compression Manager (ACM) is not installed on this system. Most features of "
       "this application will not be available."},
      {SACMVersion,
       "This application requires Version 2.00 or greater of the Audio Compression Manager "
       "(ACM). The version installed on this system is Version %u.%.02u. Most features of this "
       "application will not be available."},
      {SUnableToLoad, "Unable to load"},
      {SChangePropertyWhileOpen, "Change to property while device was open"},
      {SInvalidDeviceID, "Invalid DeviceID"},
      {SInvalidWaveFormatDisplay, "Invalid WaveFormat"},
      {SNoMemWaveHeader, "Unable to allocate memory for wave header"},
      {SCantPlayFormat, "The actual device can''t play this format"},
      {SUnableToStartDevice, "Unable to start device"},
      {SErrorFillingBuffer, "Error filling wave buffer"},
      {SErrorOutOfRange, "Specified error number is out of range (unknown error)"},
      {SCantRecordFormat, "The actual device can''t record this format"},
      {SCouldNotCreateThread, "Could not create thread"},
      {SInvalidWaveFormat, "Invalid wave format"},
      {SErrorReadingWave, "Error reading wave file"},
      {SInvalidWaveFile, "Invalid wave file..."},
      {SUnableSetupIOBuffer, "Unable to setup file IO buffer"},
      {SUnableOpenWave, "Unable to open wave file"},
      {SUnableCreateWave, "Unable to create wave file"},
      {SErrorSeeking, "Error seeking file position"},
      {SNoRecordingDevice, "No wave audio recording device found"},
      {SNoPlayingDevice, "No wave audio playing device found"},
      {SUnableToOpenDevice, "Unable to open device"},
      {SUnableToCloseDevice, "Unable to close device"},
  };
  const auto it = kTexts.find(n);
  return it == kTexts.end() ? std::string() : it->second;
}

}  // namespace pmx
