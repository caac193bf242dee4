#pragma once
#include <string>
#include <utility>

#include "platform/serial_port.h"

namespace krb::test_support {

// A port that accepts every setting and write and never has anything to read.
class NullSerialPort : public platform::SerialPort {
  public:
    explicit NullSerialPort(std::string name) : name_(std::move(name)) {}
    bool configure(const platform::LineSettings&) override { return true; }
    void setQueueSizes(std::size_t, std::size_t) override {}
    void purgeInput() override {}
    void purgeAll() override {}
    long read(char*, std::size_t, long) override { return 0; }
    bool write(const char*, std::size_t) override { return true; }
    const std::string& name() const override { return name_; }

  private:
    std::string name_;
};

}  // namespace krb::test_support
