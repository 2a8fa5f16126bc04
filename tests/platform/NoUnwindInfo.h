#pragma once

extern "C" void CallWithoutUnwindInfo(void (*Callee)());
