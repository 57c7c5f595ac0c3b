//! Base64 as a page's `btoa` and `FileReader.readAsDataURL` write it: the standard alphabet, padded.

/// What each byte stands for, or `INVALID`.
const INVALID: u8 = 0xFF;
const VALUES: [u8; 256] = {
    let mut values = [INVALID; 256];
    let alphabet = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    let mut i = 0;
    while i < alphabet.len() {
        values[alphabet[i] as usize] = i as u8;
        i += 1;
    }
    values
};

/// How many bytes `text` decodes to, read from its length and padding alone, so that a size can
/// be refused before anything is decoded. None where it cannot be base64 at all.
pub(crate) fn decoded_len(text: &str) -> Option<usize> {
    let bytes = text.as_bytes();
    if bytes.len() % 4 != 0 {
        return None;
    }
    let padding = bytes.iter().rev().take(2).take_while(|&&b| b == b'=').count();
    Some(bytes.len() / 4 * 3 - padding)
}

/// The bytes `text` stands for, or None for anything but padded standard base64 (no spaces, no
/// line breaks, no padding but at the end, no stray bits after the last byte).
pub(crate) fn decode(text: &str) -> Option<Vec<u8>> {
    let length = decoded_len(text)?;
    let bytes = text.as_bytes();
    let mut out = Vec::with_capacity(length);
    let (body, last) = bytes.split_at(bytes.len().saturating_sub(4));
    for quad in body.chunks_exact(4) {
        let v = [
            VALUES[quad[0] as usize],
            VALUES[quad[1] as usize],
            VALUES[quad[2] as usize],
            VALUES[quad[3] as usize],
        ];
        if v.contains(&INVALID) {
            return None;
        }
        let n = (v[0] as u32) << 18 | (v[1] as u32) << 12 | (v[2] as u32) << 6 | v[3] as u32;
        out.extend_from_slice(&[(n >> 16) as u8, (n >> 8) as u8, n as u8]);
    }
    if last.is_empty() {
        return Some(out);
    }
    let kept = 4 - (bytes.len() / 4 * 3 - length);
    let mut n = 0u32;
    for (i, &b) in last.iter().enumerate() {
        let value = if i >= kept { (b == b'=').then_some(0)? } else { VALUES[b as usize] };
        if value == INVALID {
            return None;
        }
        n |= (value as u32) << (18 - 6 * i);
    }
    let tail = [(n >> 16) as u8, (n >> 8) as u8, n as u8];
    let used = kept - 1;
    // Bits past the last byte must be zero, or two texts would stand for one file.
    if tail[used..].iter().any(|&b| b != 0) {
        return None;
    }
    out.extend_from_slice(&tail[..used]);
    Some(out)
}
