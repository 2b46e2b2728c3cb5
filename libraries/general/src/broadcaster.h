// The library's UDP classes in one include: the packet buffer, the sender,
// the receiver and the interface its datagrams are handed to.
#pragma once

#include "IUDPReceiver.h"
#include "UDPPacketBuffer.h"
#include "UDPReceiver.h"
#include "UDPSender.h"
