#include "encoder/encode_job.h"

#include "audio/streaming/decoded_length.h"
#include "audio/streaming/vorbis_in.h"
#include "audio/streaming/vorbis_out.h"
#include "audio/streaming/wav_in.h"

namespace pmx {

TVorbisEncodeJob::TVorbisEncodeJob() : in_(std::make_unique<TWaveIn>()), out_(std::make_unique<TVorbisOut>()) {
  in_->SetLoop(false);
  in_->SetEndSample(-1);
  out_->SetInput(in_.get());
  out_->SetShareMode(0);
  out_->SetFileMode(TFileOutputMode::foRewrite);
  out_->SetSerial(0);
  out_->OnProgress = [this](TObject*) {
    if (OnProgress) OnProgress();
  };
  out_->OnDone = [this](TObject*) {
    if (OnDone) OnDone();
  };
}

TVorbisEncodeJob::~TVorbisEncodeJob() {
  out_->Stop(false);
  out_->SetInput(nullptr);
}

void TVorbisEncodeJob::Start(const std::string& source, const std::string& target, float quality) {
  in_->SetFileName(source);
  out_->SetFileName(target);
  out_->SetCompression(quality);
  out_->SetPriority(TThreadPriority::tpLower);
  out_->Run();
}

int64_t TVorbisEncodeJob::Position() const { return in_->Position(); }
int64_t TVorbisEncodeJob::Size() const { return in_->Size(); }
int TVorbisEncodeJob::Progress() const { return out_->GetProgress(); }
bool TVorbisEncodeJob::Running() const { return out_->Busy(); }
std::string TVorbisEncodeJob::Error() const { return out_->ErrorText(); }
bool TVorbisEncodeJob::EndOfStream() const { return out_->EndOfStream(); }
bool TVorbisEncodeJob::InputEnded() const { return out_->InputEnded(); }

int64_t TVorbisEncodeJob::FramesRead() const {
  const int frame = in_->BytesPerFrame();
  return frame > 0 ? in_->Position() / frame : 0;
}

int64_t TVorbisEncodeJob::EncodedFrames(const std::string& path) const {
  TVorbisIn ogg;
  return StatedFrames(ogg, path);
}

}  // namespace pmx
