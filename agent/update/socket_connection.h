// Windows Sockets stays started while any Downloader lives.
#pragma once

void CountWinsockUser();
void UncountWinsockUser();
