#pragma once
// The start-up window: one picture, no controls. Any mouse press on it opens the main window.

#include "Form.h"

namespace zorvik::forms {

class Program;

class ZorvSplash : public runtime::Form {
    Q_OBJECT
  public:
    explicit ZorvSplash(Program& program);

  protected:
    void CreateControls(QWidget&) override {}
    void Form_MouseDown(std::int16_t Button, std::int16_t Shift, float X, float Y) override;

  private:
    Program& program_;
};

}  // namespace zorvik::forms
