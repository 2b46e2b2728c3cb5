// The telnet byte-stream state machine (see TelnetParser.h). A byte-at-a-time
// switch is clearer kept whole.
#include "TelnetParser.h"

namespace unitsim {

TelnetItem TelnetParser::Feed(std::uint8_t byte) {
  TelnetItem item;
  switch (state_) {
    case kText:
      if (byte == kIac) {
        state_ = kAfterIac;
      } else {
        item.kind = TelnetItem::kData;
        item.byte = byte;
      }
      break;
    case kAfterIac:
      if (byte == kIac) {
        item.kind = TelnetItem::kData;
        item.byte = byte;
        state_ = kText;
      } else if (byte >= kWill && byte <= kDont) {
        verb_ = byte;
        state_ = kAfterVerb;
      } else if (byte == kSb) {
        sub_.clear();
        state_ = kInSub;
      } else {
        item.kind = TelnetItem::kCommand;
        item.byte = byte;
        state_ = kText;
      }
      break;
    case kAfterVerb:
      item.kind = TelnetItem::kOption;
      item.byte = verb_;
      item.option = byte;
      state_ = kText;
      break;
    case kInSub:
      if (byte == kIac)
        state_ = kInSubIac;
      else
        sub_ += static_cast<char>(byte);
      break;
    case kInSubIac:
      if (byte == kIac) {
        sub_ += static_cast<char>(byte);
        state_ = kInSub;
      } else {
        // IAC SE ends the sub-negotiation; any other command ends it too.
        item.kind = TelnetItem::kSubnegotiation;
        item.byte = byte;
        item.option = sub_.empty() ? 0 : static_cast<std::uint8_t>(sub_[0]);
        item.payload = sub_.empty() ? std::string() : sub_.substr(1);
        state_ = kText;
      }
      break;
  }
  return item;
}

const char* VerbName(std::uint8_t verb) {
  switch (verb) {
    case kWill: return "WILL";
    case kWont: return "WONT";
    case kDo: return "DO";
    case kDont: return "DONT";
    default: return "?";
  }
}

}  // namespace unitsim
