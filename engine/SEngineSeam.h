#pragma once

#include <string>

#include "EngineConstants.h"

// What the engine needs from its owner: the tracking options, read at the moment
// they are used, and a place to show a message. The main window fills it from its
// options dialog and message boxes, the converter from its command line, a test
// from its fixture.
class SEngineSeam {
 public:
  virtual ~SEngineSeam() = default;

  // Cepstrum ratio: the options dialog's percentage times 0.01 (0.30..1.00).
  virtual double GetCPRatio() const = 0;
  // dB ratio: the options dialog's percentage times 0.01 (0.30..1.00).
  virtual double GetDBRatio() const = 0;
  // Length border in frames (1..100): notes of this length or less are dropped.
  virtual int GetBorder() const = 0;
  // Shows one message to the user (modal in the window, stderr on the command line).
  virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
};

// Option values held in plain fields, for the command line and the tests. The
// ratios are computed as percentage times 0.01, as the options dialog does.
class SFixedSeam : public SEngineSeam {
 public:
  SFixedSeam() = default;
  SFixedSeam(int cpPercent, int dbPercent, int border) { Set(cpPercent, dbPercent, border); }

  void Set(int cpPercent, int dbPercent, int border) {
    cpRatio = cpPercent * 0.01;
    dbRatio = dbPercent * 0.01;
    this->border = border;
  }

  double GetCPRatio() const override { return cpRatio; }
  double GetDBRatio() const override { return dbRatio; }
  int GetBorder() const override { return border; }
  void ShowMessage(const std::string& text, const std::string& caption) override {
    lastText = text;
    lastCaption = caption;
    ++messages;
  }

  double cpRatio = zuroka::kDefaultCPPercent * 0.01;
  double dbRatio = zuroka::kDefaultDBPercent * 0.01;
  int border = zuroka::kDefaultBorder;
  std::string lastText;
  std::string lastCaption;
  int messages = 0;
};
