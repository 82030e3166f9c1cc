namespace stview {}
