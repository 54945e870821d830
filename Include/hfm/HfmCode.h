// Huffman coding of page images into blocks of whole rows.
#pragma once

class CHfmCode {
public:
};
