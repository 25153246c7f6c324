// The test copy's message loop answers sent messages for a while before it takes
// a posted one (see sent_first.cpp).
#pragma once

void AnswerSentMessagesFirst();
