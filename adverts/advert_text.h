// Turning a fetched advertisement body into the text its slot shows.
#pragma once
