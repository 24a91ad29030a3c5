// placeholder, replaced by the camera library loader
