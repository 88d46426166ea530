#include "agent/shell/agent_state.h"

// Zero-initialised before any constructor runs, so the start-up initialisers may write to it.
AgentState g_agent;
